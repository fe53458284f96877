#pragma once

namespace quorvel {

// How a run (an extraction, a listing, a pack) ended.
enum class RunEnd {
    kCompleted,
    kTruncated,  // completed, but an archive was shorter than its blocks said
    kFailed,     // the failure was reported
    kCancelled,  // the user stopped the run
};

}  // namespace quorvel
