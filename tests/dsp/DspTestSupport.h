#pragma once
// A handler that records kernel reports instead of ending the process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsp/dsp.h"

struct DspReport {
    int32_t status;
    std::string routine;
    std::string condition;
    std::string unit;
};

class RecordingHandler {
public:
    RecordingHandler() {
        Reports().clear();
        previous_ = dspSetErrorHandler(&Record);
        dspSetStatus(dspStsNoErr);
    }
    ~RecordingHandler() {
        dspSetErrorHandler(previous_);
        dspSetStatus(dspStsNoErr);
    }
    static std::vector<DspReport>& Reports() {
        static std::vector<DspReport> reports;
        return reports;
    }
    // The single report made since construction (or the last Take), or a blank one.
    DspReport Take() {
        DspReport r{0, "", "", ""};
        EXPECT_EQ(Reports().size(), 1u);
        if (!Reports().empty()) r = Reports().front();
        Reports().clear();
        return r;
    }

private:
    static int32_t Record(int32_t status, const char* routine, const char* condition,
                          const char* unit, int32_t) {
        Reports().push_back({status, routine, condition, unit});
        return status;
    }
    DspErrorHandler previous_;
};
