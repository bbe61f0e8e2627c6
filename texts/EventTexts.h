// The sentences the front ends show for the jobs' notices and questions: the window's exact texts,
// which the terminal shows too. The jobs send ids and data; only the presenters word them.
#pragma once

#include "core/JobObserver.h"

namespace qm {

struct ShownText {
    Text text;
    Text title;  // empty: the program's default caption
};

ShownText NoticeText(const NoticeEvent& notice);
ShownText QuestionText(const QuestionEvent& question);

// True for the notices whose text is the service's own (shown with its control characters escaped).
inline bool IsServiceText(const NoticeEvent& notice) {
    return notice.id == Notice::RateLimited || notice.id == Notice::ServiceMessage;
}

}  // namespace qm
