// phone view's log pane: the log followed as it grows, its last lines told
// in words below the other panes.
#include "live/view_panes.h"

namespace phone::view {

namespace {
constexpr size_t tail_kept = 200;
}

bool FollowedLog::read()
{
    LogNews news = follower_.read();
    if (news.restarted) {
        story_ = Story();
        tail_.clear();
        events_.clear();
    }
    for (auto& logged : news.events) {
        tail_.push_back(story_.line(logged.event));
        if (tail_.size() > tail_kept)
            tail_.pop_front();
        events_.push_back(std::move(logged.event));
    }
    return news.restarted || !news.events.empty();
}

void draw_log(const FollowedLog& log, int top, int width, int height)
{
    mvhline(top, 0, '-', width);
    put(top, 2, " log ", width);
    const auto& tail = log.tail();
    const int rows = height - 1;
    const size_t first = tail.size() > static_cast<size_t>(rows) ? tail.size() - rows : 0;
    for (size_t i = first; i < tail.size(); ++i)
        put(top + 1 + static_cast<int>(i - first), 0, tail[i], width);
}

} // namespace phone::view
