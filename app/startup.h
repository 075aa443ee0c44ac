#pragma once
// The life of the process: entry, the start-up sequence in MainWindow's created event, the
// single-instance guard, the end of the program and the counter kept at shut-down.
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "platform/files.h"
#include "ui/events.h"

namespace lumora::app {

// The process entry: without arguments runs the program until it ends, otherwise does what the
// command line asks (command_line.h); returns the exit code.
int runProgram(int argc, char** argv);
// The part of it after MainWindow is open: runs the event loop unless start-up has already
// ended the program, destroys the windows left open and returns the exit code.
int runMainLoop();

// Created of MainWindow: single-instance guard, loadSettings (with the splash), tray icon,
// capture folder in 透明标签1.
void onMainWindowCreated(const ui::EventArgs& args);
// Destroying of MainWindow: keeps the running number under the shut-down key.
void onMainWindowDestroying(const ui::EventArgs& args);

// Removes the tray icon and ends the program with `code` once the running handler returns:
// every event loop, nested ones included, is asked to end. Callers do nothing after it.
void endProgram(int code = 0);
// Whether endProgram has been called (start-up stops early when it has).
bool programEnding();

// True as soon as a second live process of `ownUser` carries exactly this executable file name
// (byte for byte, letter case significant); this process is one of them. Other users'
// processes and zombies do not count, nor do processes `isCommand` names (one-off commands,
// which capture once and end). An unknown own name finds nothing.
bool anotherInstanceRunning(std::span<const platform::ProcessRecord> processes,
                            std::string_view ownName, std::uint32_t ownUser,
                            const std::function<bool(std::uint32_t pid)>& isCommand = {});
// The guard's whole check: another instance under this file name (above), or another
// instance of this user on the same settings store under any name (its lock). Takes that lock
// when it is free and keeps it until the process ends, so an instance that asked and went on
// keeps the next one out. A one-off `lumora --capture` holds the lock for the moment of its
// capture: the check waits for it (a few seconds at most) rather than give way to it. Shows
// nothing.
bool anotherInstanceRunning();

}  // namespace lumora::app
