#include "capture/loss_report.h"

#include <cstdio>

#include "platform/shell.h"

namespace lumora::capture {

namespace {

struct LossState {
    bool capturesFailing = false;
    bool counterFailing = false;
    bool toStandardError = true;
};

LossState& state() {
    static LossState instance;
    return instance;
}

void tell(const std::string& title, const std::string& text, const std::string& line) {
    platform::showTrayMessage(title, text, true);
    if (state().toStandardError) {
        std::fprintf(stderr, "lumora: %s\n", line.c_str());
        std::fflush(stderr);
    }
}

}  // namespace

void reportCaptureLost(const std::string& folder, std::int64_t number, const std::string& reason) {
    if (state().capturesFailing)
        return;
    state().capturesFailing = true;
    tell("截图未保存 (capture not saved)", folder + "\n" + reason,
         "capture " + std::to_string(number) + " was not saved in " + folder + ": " + reason);
}

void reportCaptureSaved() {
    state().capturesFailing = false;
}

void reportCounterNotStored(std::int64_t number) {
    if (state().counterFailing)
        return;
    state().counterFailing = true;
    tell("编号未保存 (number not stored)",
         "The settings store refused the running number " + std::to_string(number) +
             "; a later start may use it again.",
         "the running number " + std::to_string(number) +
             " could not be stored in the settings store; a later start may use it again");
}

void reportCounterStored() {
    state().counterFailing = false;
}

void setLossReportOnStandardError(bool on) {
    state().toStandardError = on;
}

}  // namespace lumora::capture
