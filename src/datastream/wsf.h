// Structured fields and the query reply.
#pragma once
#include <cstdint>

struct Session;

int16_t WsfProc(Session* sp, const uint8_t* p, int32_t length);
int ReadPartitionProc(Session* sp, const uint8_t* field, int32_t fieldLength);
int QueryReply(Session* sp);
int QueryListReply(Session* sp, const uint8_t* field, int32_t fieldLength);
