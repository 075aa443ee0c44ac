#pragma once
// What the program was asked to do on its command line: start as usual, capture once and end,
// or only say how it is used or which version it is.
#include <span>
#include <string>
#include <string_view>

namespace lumora::app {

enum class CommandAction {
    Start,    // no arguments: the program as it always starts
    Capture,  // --capture screen|window [--delay SECONDS]
    Help,
    Version,
    Misuse,  // anything else; `problem` says what
};

enum class CaptureTarget { Screen, Window };

struct Command {
    CommandAction action = CommandAction::Start;
    CaptureTarget target = CaptureTarget::Screen;
    int delaySeconds = 0;
    std::string problem;
};

inline constexpr int kMaxDelaySeconds = 60;

// The arguments after the program's name. Options may be written "--capture window" or
// "--capture=window"; --help and --version win over anything else given with them.
Command parseCommandLine(std::span<const std::string_view> args);

// The full usage for --help, and the two lines that follow a misuse.
std::string usageText();
std::string shortUsage();
std::string versionText();

// Help, version and misuse are answered from the command line alone: prints the answer and
// gives the exit code (0, 0, 2); -1 for a command that needs the program.
int answerFromCommandLine(const Command& command);

}  // namespace lumora::app
