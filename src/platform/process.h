#pragma once
// Processes: waiting for the launcher to end and starting it again.
#include <cstdint>
#include <string>

namespace korvanta::platform {

// Blocks until the process with this id has ended. Returns at once when the
// process cannot be opened for waiting (already gone, or access refused).
void wait_for_process_exit(std::uint32_t pid);

// Starts a process from a complete command line (the executable is its first
// token), with the given working directory (none when empty: the process
// then shares this one's), no handle inheritance and a default start-up
// state. Returns whether the process was started; its handles are closed
// before returning.
bool start_process(const std::wstring& command_line, const std::wstring& working_directory);

void sleep_milliseconds(unsigned milliseconds);

std::uint32_t current_process_id();

}  // namespace korvanta::platform
