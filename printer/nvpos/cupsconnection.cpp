// A CUPS destination: each document is one raw print job on the default print server.
#include "connection.h"

#include <cups/cups.h>

#include <cerrno>

namespace Printer::NvPos {

namespace {

constexpr const char *JobTitle = "nvlogo";

// CUPS would ask for a password on the terminal, which a desktop program does not have; a
// queue that needs one fails instead.
const char *noPassword(const char *, http_t *, const char *, const char *, void *)
{
    return nullptr;
}

// The password callback and the server are kept per thread by libcups.
void prepareThread()
{
    cupsSetPasswordCB2(noPassword, nullptr);
}

struct HttpDeleter
{
    void operator()(http_t *http) const { httpClose(http); }
};
using Http = std::unique_ptr<http_t, HttpDeleter>;

// A connection to the default server whose every wait for an answer, and every write that
// makes no progress, ends after noProgressTimeout().
Http connectToServer()
{
    const char *server = cupsServer();
    Http http(httpConnect2(server,
                           ippPort(),
                           nullptr,
                           AF_UNSPEC,
                           cupsEncryption(),
                           1,
                           static_cast<int>(connectTimeout().count()),
                           nullptr));
    if (!http) {
        qCWarning(lcNvPos, "Cannot reach the print server %s: %s", server, cupsLastErrorString());
        return nullptr;
    }
    httpSetTimeout(http.get(),
                   static_cast<double>(noProgressTimeout().count()) / 1000.0,
                   nullptr,
                   nullptr);
    return http;
}

// Asks the server about the queue over the connection whose waits are bounded (the
// destination helpers of libcups open connections of their own, with waits of a minute).
bool queueExists(http_t *http, const std::string &queue)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL,
                     uri,
                     sizeof uri,
                     "ipp",
                     nullptr,
                     "localhost",
                     ippPort(),
                     "/printers/%s",
                     queue.c_str());
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(
            request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request,
                 IPP_TAG_OPERATION,
                 IPP_TAG_KEYWORD,
                 "requested-attributes",
                 nullptr,
                 "printer-name");
    ipp_t *response = cupsDoRequest(http, request, "/");
    if (!response) {
        const int error = httpError(http);
        qCWarning(lcNvPos,
                  "The print server %s did not answer: %s",
                  cupsServer(),
                  error == ETIMEDOUT || error == EWOULDBLOCK ? "timed out" : cupsLastErrorString());
        return false;
    }
    const bool found = cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
    if (!found) {
        qCWarning(lcNvPos,
                  "The print server %s has no queue %s: %s",
                  cupsServer(),
                  queue.c_str(),
                  cupsLastErrorString());
    }
    ippDelete(response);
    return found;
}

class CupsConnection final : public Connection
{
public:
    CupsConnection(Http http, std::string queue)
        : m_http(std::move(http))
        , m_queue(std::move(queue))
    {}

    Result startDoc() override
    {
        prepareThread();
        if (m_job > 0) {
            const Result finished = endDoc();
            if (finished < 0)
                return finished;
        }
        if (!m_http && !(m_http = connectToServer()))
            return NVPOS_ERR_IO;
        const int job = cupsCreateJob(m_http.get(), m_queue.c_str(), JobTitle, 0, nullptr);
        if (job <= 0)
            return fail("Cannot create a print job", 0);
        if (cupsStartDocument(m_http.get(), m_queue.c_str(), job, JobTitle, CUPS_FORMAT_RAW, 1)
            != HTTP_STATUS_CONTINUE) {
            return fail("Cannot start the document", job);
        }
        m_job = job;
        return job;
    }

    Result write(const char *data, std::int32_t count) override
    {
        prepareThread();
        if (m_job <= 0) {
            const Result started = startDoc();
            if (started < 0)
                return started;
        }
        if (cupsWriteRequestData(m_http.get(), data, static_cast<std::size_t>(count))
            != HTTP_STATUS_CONTINUE) {
            const int job = m_job;
            m_job = 0;
            return fail("Cannot send the document", job);
        }
        return count;
    }

    Result endDoc() override
    {
        prepareThread();
        if (m_job <= 0)
            return NVPOS_OK;
        const int job = m_job;
        m_job = 0;
        if (cupsFinishDocument(m_http.get(), m_queue.c_str()) > IPP_STATUS_OK_CONFLICTING)
            return fail("The print server refused the document", job);
        return job;
    }

    Result close() override
    {
        const Result result = endDoc();
        m_http.reset();
        return result;
    }

private:
    // Logs the failure, cancels the job it leaves behind and drops the connection, whose
    // request is now in an unknown state; the next document connects afresh.
    Result fail(const char *what, int job)
    {
        const int error = m_http ? httpError(m_http.get()) : 0;
        const bool timedOut = error == ETIMEDOUT || error == EWOULDBLOCK || error == EAGAIN;
        qCWarning(lcNvPos,
                  "%s on %s: %s",
                  what,
                  m_queue.c_str(),
                  timedOut ? "the print server did not answer in time" : cupsLastErrorString());
        m_http.reset();
        if (job > 0) {
            if (Http cancel = connectToServer()) {
                if (!cupsCancelJob2(cancel.get(), m_queue.c_str(), job, 0))
                    qCWarning(lcNvPos, "Cannot cancel job %d: %s", job, cupsLastErrorString());
            }
        }
        return timedOut ? NVPOS_ERR_TIMEOUT : NVPOS_ERR_IO;
    }

    Http m_http;
    std::string m_queue;
    int m_job = 0;
};

} // namespace

std::unique_ptr<Connection> openDriver(const std::string &name)
{
    if (name.empty()) {
        qCWarning(lcNvPos, "No print queue named");
        return nullptr;
    }
    prepareThread();
    Http http = connectToServer();
    if (!http)
        return nullptr;
    // "queue/instance": an instance is the queue with saved options, which a raw job does
    // not use.
    const std::string queue = name.substr(0, name.find('/'));
    if (!queueExists(http.get(), queue))
        return nullptr;
    return std::make_unique<CupsConnection>(std::move(http), queue);
}

} // namespace Printer::NvPos
