#pragma once
// Progress of the long stages, shown on standard error while a run lasts.

namespace Generic::Progress {

// AUTO shows progress only when standard error is a terminal.
enum class Mode { AUTO, ON, OFF };

} // namespace Generic::Progress
