// A request to stop a run's long set-up steps at once: loading grids and
// forming their block means, which take seconds to minutes on large grids
// and happen before the point loop looks at its own stop request. Set from a
// signal handler (a lock-free atomic store) or another thread; the steps
// look at it between blocks of at most a few megabytes, and a step that
// sees it gives up without a message of its own: the run then ends as
// stopped.
#pragma once

namespace globelayers {

void RequestLongStepStop() noexcept;
void ClearLongStepStop() noexcept;
bool LongStepStopRequested() noexcept;

}  // namespace globelayers
