// A stand-in printer library that records every call, for tests that check which
// calls a command makes and with which arguments. Its answers can be set in advance.

#include <cstdint>
#include <cstdio>
#include <string>

#define REC_API extern "C" __attribute__((visibility("default")))

namespace {

std::string g_log;
int32_t g_openResult = 1;
int32_t g_writeResult = -999; // -999: answer with the byte count
int32_t g_docResult = 1;
int32_t g_closeResult = 0;

void record(const std::string &line)
{
    g_log += line;
    g_log += '\n';
}

std::string hex(const char *data, int32_t count)
{
    std::string out;
    char byte[4];
    for (int32_t i = 0; data && i < count; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
        out += byte;
    }
    return out;
}

} // namespace

REC_API void REC_Reset()
{
    g_log.clear();
    g_openResult = 1;
    g_writeResult = -999;
    g_docResult = 1;
    g_closeResult = 0;
}

REC_API const char *REC_Log()
{
    return g_log.c_str();
}

REC_API void REC_SetOpenResult(int32_t result)
{
    g_openResult = result;
}

REC_API void REC_SetWriteResult(int32_t result)
{
    g_writeResult = result;
}

REC_API void REC_SetDocResult(int32_t result)
{
    g_docResult = result;
}

REC_API int32_t POS_Open(const char *name,
                         int32_t baudRate,
                         int32_t dataBits,
                         int32_t parity,
                         int32_t stopBits,
                         int32_t openMode)
{
    record("POS_Open(\"" + std::string(name ? name : "<null>") + "\"," + std::to_string(baudRate)
           + "," + std::to_string(dataBits) + "," + std::to_string(parity) + ","
           + std::to_string(stopBits) + "," + std::to_string(openMode) + ")");
    return g_openResult;
}

#ifndef REC_WITHOUT_STARTDOC
REC_API int32_t POS_StartDoc()
{
    record("POS_StartDoc()");
    return g_docResult;
}
#endif

REC_API int32_t POS_WriteFile(int32_t handle, const char *data, int32_t count)
{
    record("POS_WriteFile(" + std::to_string(handle) + "," + hex(data, count) + ","
           + std::to_string(count) + ")");
    return g_writeResult == -999 ? count : g_writeResult;
}

REC_API int32_t POS_EndDoc()
{
    record("POS_EndDoc()");
    return g_docResult;
}

REC_API int32_t POS_Close()
{
    record("POS_Close()");
    return g_closeResult;
}

// The handle-taking forms, which the program prefers when the library has them; an older
// library (REC_WITHOUT_HANDLE_CALLS) has none.
#ifndef REC_WITHOUT_HANDLE_CALLS
#ifndef REC_WITHOUT_STARTDOC
REC_API int32_t NVPOS_StartDoc(int32_t handle)
{
    record("NVPOS_StartDoc(" + std::to_string(handle) + ")");
    return g_docResult;
}
#endif

REC_API int32_t NVPOS_EndDoc(int32_t handle)
{
    record("NVPOS_EndDoc(" + std::to_string(handle) + ")");
    return g_docResult;
}

REC_API int32_t NVPOS_Close(int32_t handle)
{
    record("NVPOS_Close(" + std::to_string(handle) + ")");
    return g_closeResult;
}
#endif
