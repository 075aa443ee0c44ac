#include "capture/loss_report.h"

#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/shell.h"

namespace lumora::capture {

namespace {

using Clock = std::chrono::steady_clock;

// One kind of loss told without flooding: a new cause is told at once, the same cause again at
// most once a minute, with how many were lost since it was last told.
struct LossRun {
    std::optional<std::string> cause;  // none: the last attempt succeeded
    Clock::time_point lastTold;
    int untold = 0;

    // How many losses to tell now (this one included); 0: keep quiet.
    int count(const std::string& newCause, Clock::time_point now) {
        if (cause != newCause) {
            cause = newCause;
            lastTold = now;
            untold = 0;
            return 1;
        }
        ++untold;
        if (now - lastTold < std::chrono::minutes(1))
            return 0;
        lastTold = now;
        return std::exchange(untold, 0);
    }
    void end() {
        cause.reset();
        untold = 0;
    }
};

struct LossState {
    LossRun captures;
    LossRun counter;
    bool toStandardError = true;
    std::function<Clock::time_point()> clock = [] { return Clock::now(); };
};

LossState& state() {
    static LossState instance;
    return instance;
}

bool startsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// Why a capture was lost, as the person reads it; standard error keeps the cause as the code
// that failed gave it, for scripts and logs.
std::string reasonForPerson(std::string_view reason) {
    // Causes written for the person already.
    for (const unsigned char c : reason) {
        if (c >= 0x80)
            return std::string(reason);
    }
    struct Known {
        std::string_view cause;
        std::string_view told;
    };
    static constexpr Known kFileCauses[] = {
        {"the disk is full", "磁盘空间已满"},
        {"the folder does not exist", "保存目录不存在"},
        {"the folder is read-only", "保存目录是只读的"},
        {"no permission to write in the folder", "没有权限写入保存目录"},
        {"the file name is too long", "文件名太长了"},
        {"the file name has characters the folder does not allow",
         "文件名中有保存目录不允许的字符（如 < > : \" | ? *），请在设置里修改自定义前缀"},
        {"the day folder is a link or not a folder",
         "当天的文件夹是一个链接或不是文件夹，截图不会写到保存目录之外"},
        {"the disk reported an error", "磁盘读写出错了"},
        {"someone removed the file while it was written", "文件在写入时被删除了"},
        {"the picture could not be encoded", "图片无法转换成JPG格式"},
        {"no capture folder", "您还没有设置截图默认保存目录"},
        {"the program ended before the picture arrived", "程序在截图完成之前退出了"},
    };
    for (const Known& known : kFileCauses) {
        if (reason == known.cause)
            return std::string(known.told);
    }
    if (startsWith(reason, "no picture")) {
        std::string told = "没能截取到画面";
        // Never asked: the desktop asks when the program starts with its window in front.
        if (contains(reason, "screenshot permission is unset")) {
            told +=
                "，桌面还没有问过是否允许 Lumora 截图。请先启动一次 Lumora，桌面询问时选择"
                "“允许”";
        } else if (contains(reason, "screenshot permission")) {
            // A stored refusal says how to undo it (the command comes after "run: ").
            told += "，桌面的截图权限拒绝了 Lumora";
            if (const auto at = reason.find("run: "); at != std::string_view::npos)
                told +=
                    "。要让桌面重新询问，请在终端里运行：\n" + std::string(reason.substr(at + 5));
        } else if (contains(reason, "refused"))
            told += "，桌面拒绝了截图";
        else if (contains(reason, "no screenshot portal"))
            told += "，这个桌面没有提供截图服务";
        else if (contains(reason, "did not answer"))
            told += "，桌面的截图服务没有响应";
        else if (contains(reason, "window"))
            told += "，窗口已经不在了";
        return told;
    }
    return "出现了意外的错误";
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
    // Another folder is another cause too: the person changed something.
    const int count = state().captures.count(folder + '\n' + reason, state().clock());
    if (count == 0)
        return;
    const std::string n = std::to_string(number);
    if (count == 1)
        tell("截图没有保存",
             "第" + n + "张截图没有保存到：\n" + folder + "\n原因：" + reasonForPerson(reason),
             "capture " + n + " was not saved in " + folder + ": " + reason);
    else
        tell("截图没有保存",
             "又有" + std::to_string(count) + "张截图没有保存到：\n" + folder + "\n最后一张是第" +
                 n + "张，原因仍是：" + reasonForPerson(reason),
             std::to_string(count) + " more captures, the last one " + n + ", were not saved in " +
                 folder + ": " + reason);
}

void reportCaptureSaved() {
    state().captures.end();
}

void reportCounterNotStored(std::int64_t number) {
    const int count = state().counter.count("store", state().clock());
    if (count == 0)
        return;
    const std::string n = std::to_string(number);
    const std::string times = count == 1 ? "" : "（这一分钟里第" + std::to_string(count) + "次）";
    tell("截图编号没有保存",
         "截图编号" + n + "没能保存到设置中" + times + "，下次启动时可能会重复使用这个编号。",
         "the running number " + n + " could not be stored in the settings store" +
             (count == 1 ? "" : " (" + std::to_string(count) + " times since last told)") +
             "; a later start may use it again");
}

void reportCounterStored() {
    state().counter.end();
}

void setLossReportClock(std::function<std::chrono::steady_clock::time_point()> clock) {
    state().clock = clock ? std::move(clock) : [] { return Clock::now(); };
}

void setLossReportOnStandardError(bool on) {
    state().toStandardError = on;
}

}  // namespace lumora::capture
