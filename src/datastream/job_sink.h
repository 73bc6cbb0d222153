// Where job bytes go in place of job files: a stream the owner provides and
// takes back at each job's end, with nothing named, delivered or removed. For
// callers that only want the bytes (the fuzz targets keep the file system out
// of every input); sessions write job files.
#pragma once
#include <cstdio>

namespace datastream {

class JobSink {
  public:
    virtual ~JobSink() = default;
    // The stream for the next job; null when none can be had (the job is refused as unwritable).
    virtual FILE* OpenJob() = 0;
    // The job's bytes are all in the stream (flushed); the sink owns it again.
    virtual void EndJob(FILE* stream) = 0;
};

} // namespace datastream
