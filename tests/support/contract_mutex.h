// contract_mutex.h - a share's mutex object as a client written from the published contract makes
// it (POSIX): shm_open("/NAMEMutex") of a size of its choosing, a robust, process-shared pthread
// mutex at offset 0.
#pragma once

#ifndef _WIN32

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <string>

namespace kestcam::test {

class ContractMutex {
public:
    // Makes the object `object` ("NAMEMutex") of size bytes, with the mutex when it fits.
    ContractMutex(const std::string &object, size_t size) : name_("/" + object), size_(size) {
        const int fd = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0) return;
        if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
            void *view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (view != MAP_FAILED) view_ = view;
        }
        close(fd);
        if (view_ == nullptr || size < sizeof(pthread_mutex_t)) return;
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        made_ = pthread_mutex_init(Mutex(), &attr) == 0;
        pthread_mutexattr_destroy(&attr);
    }
    ~ContractMutex() {
        if (view_ != nullptr) munmap(view_, size_);
        shm_unlink(name_.c_str());
    }
    ContractMutex(const ContractMutex &) = delete;
    ContractMutex &operator=(const ContractMutex &) = delete;

    // The object exists (and holds an initialised mutex, when it is large enough for one).
    bool Made() const { return view_ != nullptr && (made_ || size_ < sizeof(pthread_mutex_t)); }
    pthread_mutex_t *Mutex() const { return static_cast<pthread_mutex_t *>(view_); }

private:
    std::string name_;
    size_t size_;
    void *view_ = nullptr;
    bool made_ = false;
};

} // namespace kestcam::test

#endif
