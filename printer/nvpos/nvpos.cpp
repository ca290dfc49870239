// Placeholder until the transports land: every open fails.
#include "nvpos.h"

extern "C" {

int32_t POS_Open(const char *, int32_t, int32_t, int32_t, int32_t, int32_t)
{
    return NVPOS_ERR_OPEN;
}

int32_t POS_WriteFile(int32_t, const char *, int32_t)
{
    return NVPOS_ERR_NO_CONNECTION;
}

int32_t POS_StartDoc(void)
{
    return NVPOS_ERR_NO_CONNECTION;
}

int32_t POS_EndDoc(void)
{
    return NVPOS_ERR_NO_CONNECTION;
}

int32_t POS_Close(void)
{
    return NVPOS_ERR_NO_CONNECTION;
}
}
