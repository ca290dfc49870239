// A CUPS destination: each document is one raw print job on the default print server.
#include "connection.h"

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace Printer::NvPos {

namespace {

constexpr const char *JobTitle = "nvlogo";
// The size of libcups' own write buffer: each piece is taken by the server as one.
constexpr std::int32_t WriteChunk = 32 * 1024;

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
// makes no progress, ends after noProgressTimeout(). A failure to connect carries code.
Made<Http> connectToServer(Result code)
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
        return fail(code,
                    kindOfError(errno),
                    std::string("Cannot reach the print server ") + server + ": "
                            + cupsLastErrorString());
    }
    httpSetTimeout(http.get(),
                   static_cast<double>(noProgressTimeout().count()) / 1000.0,
                   nullptr,
                   nullptr);
    return http;
}

bool timedOut(http_t *http)
{
    const int error = http ? httpError(http) : 0;
    return error == ETIMEDOUT || error == EWOULDBLOCK || error == EAGAIN;
}

// Why the queue will not print, from its attributes: ": " and the state message, or else the
// reasons; empty when the server gives none.
std::string stateText(ipp_t *response)
{
    const char *message = ippGetString(
            ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT), 0, nullptr);
    if (message && *message)
        return std::string(": ") + message;
    std::string reasons;
    ipp_attribute_t *attribute
            = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD);
    for (int i = 0; i < ippGetCount(attribute); ++i) {
        const char *reason = ippGetString(attribute, i, nullptr);
        if (reason && std::strcmp(reason, "none") != 0)
            reasons += (reasons.empty() ? "" : ", ") + std::string(reason);
    }
    return reasons.empty() ? std::string() : ": " + reasons;
}

struct IppDeleter
{
    void operator()(ipp_t *ipp) const { ippDelete(ipp); }
};

// The request for what queueReady() needs to know about the queue.
ipp_t *queueStateRequest(const std::string &queue)
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
    static const char *const attributes[] = {"printer-name",
                                             "printer-state",
                                             "printer-state-message",
                                             "printer-state-reasons",
                                             "printer-is-accepting-jobs"};
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(
            request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddStrings(request,
                  IPP_TAG_OPERATION,
                  IPP_TAG_KEYWORD,
                  "requested-attributes",
                  static_cast<int>(std::size(attributes)),
                  nullptr,
                  attributes);
    return request;
}

// Asks the server about the queue over the connection whose waits are bounded (the
// destination helpers of libcups open connections of their own, with waits of a minute). A
// queue that is stopped or rejects jobs fails too: nothing should be sent that would not print.
Status queueReady(http_t *http, const std::string &queue)
{
    // cupsDoRequest() takes the request and frees it.
    const std::unique_ptr<ipp_t, IppDeleter> response(
            cupsDoRequest(http, queueStateRequest(queue), "/"));
    const std::string server = cupsServer();
    if (!response) {
        return fail(NVPOS_ERR_OPEN,
                    timedOut(http) ? NVPOS_KIND_TIMEOUT : NVPOS_KIND_IO,
                    "The print server " + server + " did not answer: "
                            + (timedOut(http) ? "timed out" : cupsLastErrorString()));
    }
    if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        return fail(NVPOS_ERR_OPEN,
                    cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND ? NVPOS_KIND_NOT_FOUND
                    : cupsLastError() == IPP_STATUS_ERROR_FORBIDDEN
                                    || cupsLastError() == IPP_STATUS_ERROR_NOT_AUTHORIZED
                            ? NVPOS_KIND_PERMISSION
                            : NVPOS_KIND_IO,
                    "The print server " + server + " has no queue " + queue + ": "
                            + cupsLastErrorString());
    }
    const int state
            = ippGetInteger(ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM), 0);
    if (state == IPP_PSTATE_STOPPED) {
        return fail(NVPOS_ERR_OPEN,
                    NVPOS_KIND_REFUSED,
                    "The print queue " + queue + " on " + server + " is stopped"
                            + stateText(response.get()));
    }
    ipp_attribute_t *accepting
            = ippFindAttribute(response.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    if (accepting && !ippGetBoolean(accepting, 0)) {
        return fail(NVPOS_ERR_OPEN,
                    NVPOS_KIND_REFUSED,
                    "The print queue " + queue + " on " + server + " does not accept jobs"
                            + stateText(response.get()));
    }
    return NVPOS_OK;
}

// While a document is sent, libcups calls this after every HeartbeatInterval without
// progress: the caller's progress function is due, and may stop the write; after the
// no-progress time the write gives up.
struct WriteWatch
{
    WriteProgress *progress;
    StallWatch stall;

    static int keepWaiting(http_t *, void *context)
    {
        auto *watch = static_cast<WriteWatch *>(context);
        if (!watch->progress->update(watch->progress->moved()))
            return 0;
        return watch->stall.expired() ? 0 : 1;
    }
};

class CupsConnection final : public Connection
{
public:
    CupsConnection(Http http, std::string queue)
        : m_http(std::move(http))
        , m_queue(std::move(queue))
    {}

    std::int32_t capabilities() const override { return NVPOS_FRAMES_DOCUMENTS; }

    Status read(char *, std::int32_t, Milliseconds) override
    {
        return fail(NVPOS_ERR_UNSUPPORTED,
                    "The print queue " + m_queue + " passes no answers from the printer");
    }

    Status startDoc() override
    {
        prepareThread();
        if (m_job > 0) {
            const Status finished = endDoc();
            if (!finished.ok())
                return finished;
        }
        if (!m_http) {
            Made<Http> http = connectToServer(NVPOS_ERR_IO);
            if (!http.ok())
                return http.status();
            m_http = std::move(http.value());
        }
        const int job = cupsCreateJob(m_http.get(), m_queue.c_str(), JobTitle, 0, nullptr);
        if (job <= 0)
            return abandon("Cannot create a print job", 0);
        if (cupsStartDocument(m_http.get(), m_queue.c_str(), job, JobTitle, CUPS_FORMAT_RAW, 1)
            != HTTP_STATUS_CONTINUE) {
            return abandon("Cannot start the document", job);
        }
        m_job = job;
        return job;
    }

    Status write(const char *data, std::int32_t count, WriteProgress &progress) override
    {
        prepareThread();
        if (m_job <= 0) {
            const Status started = startDoc();
            if (!started.ok())
                return started;
        }
        WriteWatch watch{&progress, {}};
        const Milliseconds patience = watch.stall.patience();
        httpSetTimeout(m_http.get(),
                       static_cast<double>(WriteProgress::HeartbeatInterval.count()) / 1000.0,
                       WriteWatch::keepWaiting,
                       &watch);
        std::int32_t done = 0;
        bool sent = true;
        while (done < count && sent && progress.update(done)) {
            const std::int32_t chunk = std::min(count - done, WriteChunk);
            sent = cupsWriteRequestData(m_http.get(), data + done, static_cast<std::size_t>(chunk))
                   == HTTP_STATUS_CONTINUE;
            if (sent) {
                done += chunk;
                watch.stall.moved();
            }
        }
        httpSetTimeout(
                m_http.get(), static_cast<double>(patience.count()) / 1000.0, nullptr, nullptr);
        if (progress.stopped()) {
            cancelJob();
            return progress.stop();
        }
        if (!sent)
            return abandon("Cannot send the document", 0, byteCount(done, count) + " were taken");
        return count;
    }

    Status endDoc() override
    {
        prepareThread();
        if (m_job <= 0)
            return NVPOS_OK;
        const int job = m_job;
        // Only the server's answer tells that it took the document: cupsFinishDocument() would
        // take a wait that ended without one for the success of the request before it.
        const std::string resource = "/printers/" + m_queue;
        const std::unique_ptr<ipp_t, IppDeleter> answer(
                cupsGetResponse(m_http.get(), resource.c_str()));
        if (!answer && httpGetStatus(m_http.get()) < HTTP_STATUS_MULTIPLE_CHOICES)
            return unanswered();
        if (!answer || cupsLastError() > IPP_STATUS_OK_CONFLICTING)
            return abandon("The print server refused the document", job);
        m_job = 0;
        return job;
    }

    Status close() override
    {
        const Status status = endDoc();
        m_http.reset();
        return status;
    }

private:
    // The job in progress is given up: the connection, whose request is now in an unknown
    // state, is dropped (the next document connects afresh), and the job is cancelled on a
    // connection of its own so that the server does not print half a document.
    void cancelJob()
    {
        const int job = m_job;
        m_job = 0;
        m_http.reset();
        if (job <= 0)
            return;
        Made<Http> cancel = connectToServer(NVPOS_ERR_IO);
        if (!cancel.ok()) {
            qCWarning(lcNvPos, "Cannot cancel job %d: %s", job, cancel.status().reason().c_str());
        } else if (cupsCancelJob2(cancel.value().get(), m_queue.c_str(), job, 0)
                   > IPP_STATUS_OK_CONFLICTING) {
            qCWarning(lcNvPos, "Cannot cancel job %d: %s", job, cupsLastErrorString());
        }
    }

    // Cancels the job a failure leaves behind and returns the failure, whose reason is taken
    // before the cancellation can change libcups' last error. job is a job created but not yet
    // kept in m_job; 0 for the one in m_job.
    Status abandon(const char *what, int job, const std::string &detail = {})
    {
        const bool late = timedOut(m_http.get());
        const bool refused = cupsLastError() == IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS;
        std::string reason
                = std::string(what) + " on " + m_queue + ": "
                  + (late ? "the print server did not answer in time" : cupsLastErrorString());
        if (!detail.empty())
            reason += "; " + detail;
        if (job > 0)
            m_job = job;
        cancelJob();
        if (late)
            return fail(NVPOS_ERR_TIMEOUT, reason);
        return fail(NVPOS_ERR_IO, refused ? NVPOS_KIND_REFUSED : NVPOS_KIND_IO, reason);
    }

    // The document went out but no answer came: whether the server has all of it is unknown,
    // so the job is given up like any other that failed.
    Status unanswered()
    {
        const int error = httpError(m_http.get());
        const bool late = timedOut(m_http.get());
        const std::string reason
                = "The print server did not answer the document on " + m_queue + ": "
                  + (late ? "no answer within " + std::to_string(noProgressTimeout().count())
                                     + " ms"
                     : error != 0 ? errorText(error)
                                  : std::string("the connection ended"));
        cancelJob();
        if (late)
            return fail(NVPOS_ERR_TIMEOUT, reason);
        return fail(NVPOS_ERR_IO, reason);
    }

    Http m_http;
    std::string m_queue;
    int m_job = 0;
};

} // namespace

Opened openDriver(const std::string &name)
{
    if (name.empty())
        return fail(NVPOS_ERR_OPEN, "No print queue was named");
    prepareThread();
    Made<Http> http = connectToServer(NVPOS_ERR_OPEN);
    if (!http.ok())
        return http.status();
    // "queue/instance": an instance is the queue with saved options, which a raw job does
    // not use.
    const std::string queue = name.substr(0, name.find('/'));
    const Status ready = queueReady(http.value().get(), queue);
    if (!ready.ok())
        return ready;
    return std::make_unique<CupsConnection>(std::move(http.value()), queue);
}

} // namespace Printer::NvPos
