#include "app/command_line.h"

#include <charconv>
#include <cstdio>

namespace lumora::app {

namespace {

Command only(CommandAction action) {
    Command c;
    c.action = action;
    return c;
}

Command misuse(std::string problem) {
    Command c;
    c.action = CommandAction::Misuse;
    c.problem = std::move(problem);
    return c;
}

}  // namespace

Command parseCommandLine(std::span<const std::string_view> args) {
    for (std::string_view a : args) {
        if (a == "--help" || a == "-h")
            return only(CommandAction::Help);
        if (a == "--version")
            return only(CommandAction::Version);
    }
    Command command;
    bool haveCapture = false;
    bool haveDelay = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view option = args[i];
        std::string_view value;
        bool valueGiven = false;
        if (const auto eq = option.find('='); option.starts_with("--") && eq != option.npos) {
            value = option.substr(eq + 1);
            option = option.substr(0, eq);
            valueGiven = true;
        }
        const bool takesValue = option == "--capture" || option == "--delay";
        if (!takesValue)
            return misuse("unknown option or argument '" + std::string(args[i]) + "'");
        if (!valueGiven) {
            if (i + 1 >= args.size())
                return misuse(std::string(option) + " needs a value");
            value = args[++i];
        }
        if (option == "--capture") {
            if (haveCapture)
                return misuse("--capture given twice");
            haveCapture = true;
            if (value == "screen")
                command.target = CaptureTarget::Screen;
            else if (value == "window")
                command.target = CaptureTarget::Window;
            else
                return misuse("--capture takes 'screen' or 'window', not '" + std::string(value) +
                              "'");
        } else {
            if (haveDelay)
                return misuse("--delay given twice");
            haveDelay = true;
            int seconds = -1;
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (ec != std::errc() || end != value.data() + value.size() || seconds < 0 ||
                seconds > kMaxDelaySeconds)
                return misuse("--delay takes whole seconds from 0 to 60, not '" +
                              std::string(value) + "'");
            command.delaySeconds = seconds;
        }
    }
    if (haveDelay && !haveCapture)
        return misuse("--delay goes with --capture");
    if (haveCapture)
        command.action = CommandAction::Capture;
    return command;
}

std::string usageText() {
    return "Usage: lumora\n"
           "       lumora --capture screen|window [--delay SECONDS]\n"
           "       lumora --help | --version\n"
           "\n"
           "Without options Lumora starts with its window and tray icon; PrintScreen then\n"
           "captures the screen and Insert the window that has the focus.\n"
           "\n"
           "--capture captures once, as those keys do, and prints the saved file's full path.\n"
           "When Lumora is running, the running program makes the capture, so its numbering\n"
           "continues; otherwise the command captures with the stored options and ends.\n"
           "\n"
           "  --capture screen    the primary screen\n"
           "  --capture window    the window that has the focus\n"
           "  --delay SECONDS     wait 0 to 60 seconds before capturing (default 0)\n"
           "  --help              show this help\n"
           "  --version           show the version\n"
           "\n"
           "Exit status: 0 saved, 1 not saved (the cause is on standard error), 2 wrong usage.\n";
}

std::string shortUsage() {
    return "Usage: lumora [--capture screen|window [--delay SECONDS]]\n"
           "Try 'lumora --help' for more.\n";
}

std::string versionText() {
    return std::string("lumora ") + LUMORA_VERSION + "\n";
}

int answerFromCommandLine(const Command& command) {
    switch (command.action) {
        case CommandAction::Help:
            std::fputs(usageText().c_str(), stdout);
            return 0;
        case CommandAction::Version:
            std::fputs(versionText().c_str(), stdout);
            return 0;
        case CommandAction::Misuse:
            std::fprintf(stderr, "lumora: %s\n%s", command.problem.c_str(), shortUsage().c_str());
            return 2;
        case CommandAction::Capture:
        case CommandAction::Start:
            break;
    }
    return -1;
}

}  // namespace lumora::app
