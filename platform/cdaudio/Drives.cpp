#include <cdio/cdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/cdaudio/CdAudio.h"
#include "platform/cdaudio/MediaWatcher.h"
#include "platform/cdaudio/Toc.h"

namespace tunara::cdaudio {

bool IsImageName(const std::string& element) {
    auto dot = element.rfind('.');
    if (dot == std::string::npos || element.find('/', dot) != std::string::npos) return false;
    std::string ext = element.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == "cue" || ext == "bin" || ext == "toc" || ext == "nrg";
}

std::vector<DriveInfo> ListDrives() {
    std::vector<DriveInfo> drives;
    InitCdio();
    if (char** devices = cdio_get_devices(DRIVER_DEVICE)) {
        for (char** d = devices; *d; ++d) drives.push_back({*d, false});
        cdio_free_device_list(devices);
    }
    if (const char* env = std::getenv("TUNARA_CD_IMAGES")) {
        std::string list = env;
        size_t begin = 0;
        while (begin <= list.size()) {
            size_t end = list.find(':', begin);
            if (end == std::string::npos) end = list.size();
            std::string name = list.substr(begin, end - begin);
            bool known = std::any_of(drives.begin(), drives.end(),
                                     [&](const DriveInfo& d) { return d.name == name; });
            if (!name.empty() && !known) drives.push_back({name, true});
            begin = end + 1;
        }
    }
    return drives;
}

struct MediaWatcher::Drive {
    std::string name;
    bool isImage = false;
    bool present = false;
    // Images: what the file looked like at the last look.
    bool exists = false;
    off_t size = 0;
    int64_t mtimeNs = 0;
    ino_t inode = 0;
    // Drives: a handle of our own, kept for the media-changed status.
    CdIo_t* cdio = nullptr;
};

MediaWatcher::MediaWatcher(std::vector<std::string> drives) {
    for (auto& name : drives) {
        auto d = std::make_unique<Drive>();
        d->isImage = IsImageName(name);
        d->name = std::move(name);
        Look(*d, 0, nullptr);
        drives_.push_back(std::move(d));
    }
}

MediaWatcher::~MediaWatcher() {
    for (auto& d : drives_) CloseCdio(d->cdio);
}

std::vector<MediaWatcher::Change> MediaWatcher::Poll() {
    std::vector<Change> changes;
    for (size_t i = 0; i < drives_.size(); ++i) Look(*drives_[i], static_cast<int>(i), &changes);
    return changes;
}

void MediaWatcher::Look(Drive& d, int index, std::vector<Change>* changes) {
    auto report = [&](Change::Kind kind, std::string text = {}) {
        if (changes) changes->push_back({index, kind, std::move(text)});
    };
    bool wasPresent = d.present;
    bool changed = false;
    if (d.isImage) {
        struct stat st {};
        bool exists = ::stat(d.name.c_str(), &st) == 0;
        int64_t mtime =
            exists ? static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec : 0;
        changed = exists != d.exists ||
                  (exists && (st.st_size != d.size || mtime != d.mtimeNs || st.st_ino != d.inode));
        d.exists = exists;
        d.size = exists ? st.st_size : 0;
        d.mtimeNs = mtime;
        d.inode = exists ? st.st_ino : 0;
        if (!exists) {
            d.present = false;
        } else if (changed) {
            // An unchanged file is not read again: a broken image stays
            // broken and is reported once per version of the file.
            CdIo_t* cdio = OpenCdio(d.name);
            Toc toc;
            uint32_t r = cdio ? ReadToc(cdio, toc) : kErrHardware;
            CloseCdio(cdio);
            d.present = r == kOk;
            std::string refused = cdio ? std::string() : CheckImage(d.name);
            if (r != kOk)
                report(Change::Failed, refused.empty() ? d.name + ": " + ResultText(r) : refused);
        }
    } else {
        if (!d.cdio) d.cdio = OpenCdio(d.name);
        if (!d.cdio) {
            d.present = false;
            report(Change::Failed, d.name + ": " + ResultText(kErrHardware));
            return;
        }
        changed = cdio_get_media_changed(d.cdio) == 1;
        if (changed || !d.present) {
            Toc toc;
            d.present = ReadToc(d.cdio, toc) == kOk;
        }
    }
    if (d.present && (!wasPresent || changed)) {
        if (wasPresent) report(Change::Removed);  // one disc replaced by another
        report(Change::Arrived);
    } else if (!d.present && wasPresent) {
        report(Change::Removed);
    }
}

}  // namespace tunara::cdaudio
