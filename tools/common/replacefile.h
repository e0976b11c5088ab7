// Replacing a file whole, so that a reader sees either the old content or
// the new, never a part: the new one is written to a temporary file in the
// same folder (a name beginning with '.', which no reader of FILE's pattern
// takes up), then renamed over FILE.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// Puts `text` at `path` with permissions `mode` (as given, whatever the
// umask: the file is meant for a reader of its own). `durable`: the data
// and the rename reach the disk before it returns, for a file a restart
// reads back; without it a crash may leave the old content. False, with
// the reason in `why` and the temporary file removed, when any step fails.
bool replacefile(const std::string& path, std::string_view text, mode_t mode, bool durable,
                 std::string* why);
