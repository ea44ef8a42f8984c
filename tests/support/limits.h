// Process limits that a test sets for a while: the file-size limit (as `ulimit -f` sets it)
// and the address space, each restored when the object goes.
#pragma once

#include <sys/resource.h>

class ProcessLimit {
  public:
    using Resource = decltype(RLIMIT_AS);
    // RLIMIT_FSIZE or RLIMIT_AS, soft limit at bytes; the hard limit stays.
    ProcessLimit(Resource resource, rlim_t bytes) : resource_(resource) {
        getrlimit(resource_, &before_);
        rlimit lowered   = before_;
        lowered.rlim_cur = bytes;
        setrlimit(resource_, &lowered);
    }
    ~ProcessLimit() { setrlimit(resource_, &before_); }
    ProcessLimit(const ProcessLimit &)            = delete;
    ProcessLimit &operator=(const ProcessLimit &) = delete;

  private:
    Resource resource_;
    rlimit before_{};
};
