#include "sources/SourceSettings.h"

#include <memory>
#include <mutex>

namespace tunara {
namespace {

std::mutex& QueryMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<const std::function<bool()>>& Query() {
    static std::shared_ptr<const std::function<bool()>> q;
    return q;
}

}  // namespace

bool UseId3Title() {
    std::shared_ptr<const std::function<bool()>> q;
    {
        std::lock_guard lock(QueryMutex());
        q = Query();
    }
    // Called outside the lock: the store may take locks of its own.
    return q ? (*q)() : true;
}

void SetUseId3TitleQuery(std::function<bool()> query) {
    auto q = query ? std::make_shared<const std::function<bool()>>(std::move(query)) : nullptr;
    std::lock_guard lock(QueryMutex());
    Query() = std::move(q);
}

}  // namespace tunara
