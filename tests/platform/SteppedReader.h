#pragma once
// Driving the CD reader from a test: a reader whose sectors wait for the
// test's permission (its events are delivered with testing::PumpUntil).
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/cdreader/CdReader.h"
#include "support/Eventually.h"

namespace tunara::test {

// A reader whose sectors wait for the test's permission.
class SteppedReader : public CdReader {
public:
    using CdReader::CdReader;
    void Allow(int sectors) {
        std::lock_guard lock(m_);
        allowed_ += sectors;
        cv_.notify_all();
    }
    // Waits until the reading thread has used every allowed sector and waits
    // for more.
    void WaitUntilBlocked() {
        std::unique_lock lock(m_);
        cv_.wait(lock, [&] { return waiting_ && allowed_ == 0; });
    }

protected:
    void BeforeSector(int32_t) override {
        std::unique_lock lock(m_);
        waiting_ = true;
        cv_.notify_all();
        while (allowed_ == 0 && !AbortRequested()) cv_.wait_for(lock, std::chrono::milliseconds(1));
        waiting_ = false;
        if (allowed_ > 0) --allowed_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int allowed_ = 0;
    bool waiting_ = false;
};

}  // namespace tunara::test
