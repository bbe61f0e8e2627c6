#include "core/AppState.h"

namespace qm {

void AddAlbum(AppState& st, const ST_PERLISTRECORD& rec) {
    if (st.WindowReady.load() != 1) return;
    const std::size_t before = st.albums.Count();
    const std::size_t count = st.albums.AppendRecord(rec);
    if (count == before) {
        st.frontend->ShowMessage(u"内存分配失败");
        return;
    }
    st.frontend->AlbumAdded(static_cast<int>(count - 1));
}

SiteProfile CurrentProfile(AppState& st) {
    std::lock_guard<std::mutex> lock(st.settingsMutex);
    return st.settings.profile[static_cast<std::size_t>(st.currentSite)];
}

DownParam CurrentDownParam(AppState& st) {
    std::lock_guard<std::mutex> lock(st.settingsMutex);
    return st.settings.down[static_cast<std::size_t>(st.currentSite)];
}

}  // namespace qm
