#include "record/RipCheck.h"

#include <algorithm>
#include <fstream>

#ifndef TUNARA_VERSION
#define TUNARA_VERSION "0"
#endif

namespace tunara {

std::string RipLogName(const RipFacts& facts) {
    std::string name = facts.album.empty() ? std::string("CD rip") : facts.album;
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

RipCheck CheckRip(const std::vector<RecordJob::TrackSums>& sums, const accuraterip::DiscIds& ids,
                  const std::string& host, int port, const std::string& logPath,
                  const RipFacts& facts, std::shared_ptr<std::atomic<bool>> cancel) {
    RipCheck check;
    http::Options options;
    // The record is binary: line breaks mean nothing in it.
    options.maxLineBytes = options.maxBodyBytes = 256 * 1024;
    http::Session session("Tunara/" TUNARA_VERSION, {}, options);
    if (cancel) session.ShareCancelFlag(std::move(cancel));
    std::vector<accuraterip::Response> responses;
    const http::Status status = accuraterip::Fetch(session, host, port, ids, responses);
    if (status != http::Status::Ok) check.failure = http::StatusText(status);
    check.allAccurate = !sums.empty() && status == http::Status::Ok;
    std::ofstream log(logPath, std::ios::trunc);
    log << "Tunara rip log\n\n"
        << "Album: " << facts.album << "\nArtist: " << facts.artist << "\n"
        << "Drive: " << facts.drive << "\nRead offset: " << facts.readOffset << " samples\n"
        << "Paranoia mode: " << facts.paranoia << "\n"
        << "AccurateRip ids: " << accuraterip::Hex(ids.id1) << "-" << accuraterip::Hex(ids.id2)
        << "-" << accuraterip::Hex(ids.cddb) << " (" << ids.tracks << " tracks)\n";
    if (!check.failure.empty()) log << "AccurateRip lookup failed: " << check.failure << "\n";
    log << "\n";
    for (const auto& s : sums) {
        std::string text;
        if (!s.valid) {
            text = "no checksum (the read samples could not be summed)";
            check.allAccurate = false;
        } else if (!check.failure.empty()) {
            text = "not checked";
        } else {
            const auto v = accuraterip::Verify(responses, ids, s.number, {s.v1, s.v2});
            text = accuraterip::VerdictText(v);
            if (v.verdict != accuraterip::Verdict::Accurate) check.allAccurate = false;
        }
        check.verdicts.emplace_back(s.number, text);
        log << "Track " << s.number << ": " << s.path << "\n  AccurateRip v1 "
            << accuraterip::Hex(s.v1) << ", v2 " << accuraterip::Hex(s.v2) << ": " << text << "\n";
    }
    log.close();
    if (log) check.logPath = logPath;
    return check;
}

}  // namespace tunara
