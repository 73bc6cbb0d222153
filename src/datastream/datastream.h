// Record dispatcher, interpreter and the line and page writer.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

struct Session;

// Process-wide formatting state.
extern int32_t inProgress;
extern int32_t chrsInLine;
extern int32_t linesInPage;
extern int32_t glinesize;
extern int32_t gleftmargin;
extern int32_t gLinesPerPage;
extern uint8_t gVformat[137];
extern uint8_t gHformat[137];
extern int32_t gChannelsFixed;
extern int32_t jobEnded;

// Tests observe the records handed over at the session boundary through this hook.
extern void (*gDeliverObserver)(const uint8_t* data, int32_t length);

int16_t TelDeliverRecord(Session* sp, const uint8_t* data, int16_t length);
// Records longer than 32767 bytes are legal on the wire; the length type is wide.
int16_t dsoutproc(Session* sp, const uint8_t* data, int32_t length);
int16_t outdata(Session* sp, const uint8_t* data, int32_t length);
// End of a record: flushes the job file; a file that cannot be written is
// kept on disk undelivered and the result is 94.
int32_t FinishRecord(Session* sp);
// Closes the open job file without delivering it, leaves it on disk and names it.
void KeepUnwrittenJob(Session* sp);

// Every output byte of a job goes through here. file is prfile.
int32_t WPUTC(Session* sp, uint8_t c, FILE* file);
// Flushes what WPUTC buffered (end of record, job end).
int32_t FlushOutput();
