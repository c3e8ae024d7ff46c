#pragma once

// The daemon holds every user's keys: no core file, and no reading of its memory by another
// process of its user (ptrace, /proc/<pid>/mem), may reveal them. Makes the process not
// dumpable and sets both core limits to 0, so that it cannot raise them again without
// privilege. True when both settings took.
bool forbid_core_dumps() noexcept;
