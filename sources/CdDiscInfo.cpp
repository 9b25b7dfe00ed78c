#include "sources/CdDiscInfo.h"

#include "metadata/MusicBrainz.h"
#include "sources/CdDisc.h"
#include "sources/CdTrackSource.h"

namespace tunara {

CdDiscInfo::CdDiscInfo(CdDisc& disc) : disc_(disc), lookup_(*this) {
    lookup_.SetNoticeSink([this](cddb::CddbNotice notice) {
        if (const auto& notify = disc_.NotifyWindow()) notify(static_cast<int>(notice));
    });
}

CdDiscInfo::~CdDiscInfo() {
    lookup_.Abandon();
}

bool CdDiscInfo::ReadCache(const std::filesystem::path& file) {
    return cddb::ReadCdInfoCache(file, *this);
}

void CdDiscInfo::StartLookup(const cddb::LookupConfig& config) {
    lookup_.Start(config);
}

uint32_t CdDiscInfo::DiscId() const {
    return disc_.DiscId();
}
int CdDiscInfo::TrackCount() const {
    return disc_.TrackCount();
}
int CdDiscInfo::DiscLengthSeconds() const {
    // The query's total counts from the start of the lead-in, unlike the
    // playing time inside the disc id.
    return static_cast<int>(disc_.LeadoutFrames() / 75);
}
std::vector<uint32_t> CdDiscInfo::TrackOffsets() const {
    return disc_.TrackOffsets();
}
uint64_t CdDiscInfo::MediaIdentity() const {
    return disc_.MediaIdentity();
}
std::string CdDiscInfo::MusicBrainzDiscId() const {
    // A data session at the end of an enhanced CD is left out, its audio ending 11400 frames
    // (the session gap) before the data track.
    std::vector<uint32_t> offsets = disc_.TrackOffsets();
    uint32_t leadout = disc_.LeadoutFrames();
    bool lastIsAudio = false;
    {
        std::lock_guard lock(disc_.ItemLock());
        for (int k = 0; k < disc_.Count(); ++k)
            if (auto* t = dynamic_cast<CdTrackSource*>(disc_.ItemAt(k)))
                lastIsAudio = lastIsAudio || t->TrackNumber() == int(offsets.size());
    }
    if (!lastIsAudio && offsets.size() > 1 && offsets.back() > 11400) {
        leadout = offsets.back() - 11400;
        offsets.pop_back();
    }
    return musicbrainz::DiscId(offsets, leadout);
}
std::mutex& CdDiscInfo::LookupLock() {
    return disc_.LookupLock();
}

void CdDiscInfo::EditTracks(const std::function<void(std::vector<cddb::CdTrackText>&)>& edit) {
    std::lock_guard lock(disc_.ItemLock());
    std::vector<CdTrackSource*> sources;
    std::vector<cddb::CdTrackText> texts;
    for (int i = 0; i < disc_.Count(); ++i) {
        auto* track = dynamic_cast<CdTrackSource*>(disc_.ItemAt(i));
        if (!track) continue;
        sources.push_back(track);
        cddb::CdTrackText t;
        t.number = track->TrackNumber();
        t.title = track->GetTitle();
        t.artist = track->GetArtist();
        t.album = track->GetAlbum();
        t.category = track->GetCategory();
        t.year = track->GetYear();
        t.genre = track->GetGenre();
        texts.push_back(std::move(t));
    }
    const std::vector<cddb::CdTrackText> before = texts;
    edit(texts);
    for (size_t i = 0; i < sources.size() && i < texts.size(); ++i) {
        const auto& t = texts[i];
        const auto& b = before[i];
        if (t.title != b.title) sources[i]->SetTitle(t.title);
        if (t.artist != b.artist) sources[i]->SetArtist(t.artist);
        if (t.album != b.album) sources[i]->SetAlbum(t.album);
        if (t.category != b.category) sources[i]->SetCategory(t.category);
        if (t.year != b.year) sources[i]->SetYear(t.year);
        if (t.genre != b.genre) sources[i]->SetGenre(t.genre);
    }
}

}  // namespace tunara
