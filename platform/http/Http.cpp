#include "platform/http/Http.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

namespace tunara::http {

const char* StatusText(Status status) {
    switch (status) {
        case Status::Ok:
            return "The operation completed successfully";
        case Status::Timeout:
            return "The connection to the server timed out";
        case Status::InternalError:
            return "An internal error occurred in the HTTP client";
        case Status::BadUrl:
            return "The server name or request is not valid";
        case Status::NameNotResolved:
            return "The server name could not be resolved";
        case Status::Cancelled:
            return "The operation was cancelled";
        case Status::CannotConnect:
            return "A connection with the server could not be established";
        case Status::ConnectionAborted:
            return "The connection with the server was ended abnormally";
        case Status::LineTooLong:
            return "The server sent a reply line that is too long";
        case Status::BodyTooLarge:
            return "The server sent a reply that is too large";
        case Status::BadResponse:
            return "The server returned an invalid or unrecognized response";
    }
    return "Unknown HTTP error";
}

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Status FromCurl(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return Status::Ok;
        case CURLE_OPERATION_TIMEDOUT:
            return Status::Timeout;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return Status::NameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return Status::CannotConnect;
        case CURLE_ABORTED_BY_CALLBACK:
            return Status::Cancelled;
        case CURLE_URL_MALFORMAT:
            return Status::BadUrl;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
            return Status::ConnectionAborted;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_HTTP_RETURNED_ERROR:
        case CURLE_BAD_CONTENT_ENCODING:
            return Status::BadResponse;
        default:
            return Status::InternalError;
    }
}

}  // namespace

Session::Session(std::string userAgent, std::string proxy, Options options)
    : userAgent_(std::move(userAgent)),
      proxy_(std::move(proxy)),
      options_(options),
      cancelled_(std::make_shared<std::atomic<bool>>(false)) {
    GlobalInit();
}

Session::~Session() = default;

Connection::Connection(Session& session, std::string host, int port, bool https)
    : session_(session), host_(std::move(host)), port_(port), https_(https) {}

struct Request::Impl {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    Options options;
    std::shared_ptr<std::atomic<bool>> cancelled;

    std::string buffer;  // received bytes not yet handed out
    size_t readPos = 0;  // start of the first unread line in buffer
    size_t scanPos = 0;  // bytes before this hold no '\n' (from readPos)
    size_t bodyBytes = 0;
    bool done = false;
    Status error = Status::Ok;  // set once; a limit breach wins over curl's report
    long httpStatus = 0;

    ~Impl() {
        if (multi && easy) curl_multi_remove_handle(multi, easy);
        if (easy) curl_easy_cleanup(easy);
        if (multi) curl_multi_cleanup(multi);
    }

    void Fail(Status status) {
        if (error == Status::Ok) error = status;
        done = true;
    }

    static size_t OnData(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const size_t n = size * count;
        self->bodyBytes += n;
        if (self->bodyBytes > self->options.maxBodyBytes) {
            self->Fail(Status::BodyTooLarge);
            return 0;  // aborts the transfer
        }
        if (self->readPos > 0 && self->readPos * 2 > self->buffer.size()) {
            self->buffer.erase(0, self->readPos);
            self->scanPos -= self->readPos;
            self->readPos = 0;
        }
        self->buffer.append(data, n);
        // The unfinished last line must stay within the limit too, or an
        // endless line would only be caught by the body limit.
        const size_t lastBreak = self->buffer.rfind('\n');
        const size_t tailStart = lastBreak == std::string::npos ? self->readPos : lastBreak + 1;
        if (self->buffer.size() - std::max(tailStart, self->readPos) > self->options.maxLineBytes) {
            self->Fail(Status::LineTooLong);
            return 0;
        }
        return n;
    }

    static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* self = static_cast<Impl*>(user);
        return self->cancelled->load() ? 1 : 0;
    }

    // Moves the transfer on, waiting at most one poll interval.
    void Pump() {
        if (done) return;
        if (cancelled->load()) {
            Fail(Status::Cancelled);
            return;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            Fail(Status::InternalError);
            return;
        }
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE) continue;
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &httpStatus);
            if (msg->data.result != CURLE_OK) Fail(FromCurl(msg->data.result));
            done = true;
        }
        if (done) return;
        if (running == 0) {
            // Finished without a message: cannot happen with one easy handle,
            // but never wait on a transfer that is not there.
            done = true;
            return;
        }
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(options.pollInterval.count()), nullptr);
    }
};

Status Connection::Get(std::string_view object, Request& request) {
    request.impl_ = std::make_unique<Request::Impl>();
    Request::Impl& r = *request.impl_;
    r.options = session_.options_;
    r.cancelled = session_.cancelled_;
    if (host_.empty() || port_ < 1 || port_ > 65535 || object.empty() || object[0] != '/') {
        r.Fail(Status::BadUrl);
        return r.error;
    }
    for (char c : host_)
        if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '?' || c == '#' || c == '@') {
            r.Fail(Status::BadUrl);
            return r.error;
        }
    const bool v6 = host_.find(':') != std::string::npos;
    std::string url = https_ ? "https://" : "http://";
    url += v6 ? "[" + host_ + "]" : host_;
    url += ":" + std::to_string(port_);
    url.append(object);

    r.easy = curl_easy_init();
    r.multi = curl_multi_init();
    if (!r.easy || !r.multi) {
        r.Fail(Status::InternalError);
        return r.error;
    }
    CURL* e = r.easy;
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, https_ ? "https" : "http");
    curl_easy_setopt(e, CURLOPT_USERAGENT, session_.userAgent_.c_str());
    if (!session_.proxy_.empty()) curl_easy_setopt(e, CURLOPT_PROXY, session_.proxy_.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(r.options.connectTimeout.count()));
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(r.options.totalTimeout.count()));
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 0L);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Request::Impl::OnData);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Request::Impl::OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &r);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    if (curl_multi_add_handle(r.multi, e) != CURLM_OK) {
        r.Fail(Status::InternalError);
        return r.error;
    }

    // Wait for the reply's head: the first body bytes or the end.
    while (!r.done && r.bodyBytes == 0) r.Pump();
    if (r.error != Status::Ok) return r.error;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &r.httpStatus);
    if (r.httpStatus < 200 || r.httpStatus > 299) {
        r.Fail(Status::BadResponse);
        return r.error;
    }
    return Status::Ok;
}

Request::Request() = default;
Request::~Request() = default;
Request::Request(Request&&) noexcept = default;
Request& Request::operator=(Request&&) noexcept = default;

bool Request::ReadLine(std::string& line) {
    if (!impl_) return false;
    Impl& r = *impl_;
    for (;;) {
        if (r.error != Status::Ok) return false;
        const size_t nl = r.buffer.find('\n', std::max(r.scanPos, r.readPos));
        if (nl != std::string::npos) {
            size_t end = nl;
            if (end > r.readPos && r.buffer[end - 1] == '\r') --end;
            if (end - r.readPos > r.options.maxLineBytes) {
                r.Fail(Status::LineTooLong);
                return false;
            }
            line.assign(r.buffer, r.readPos, end - r.readPos);
            r.readPos = r.scanPos = nl + 1;
            return true;
        }
        r.scanPos = r.buffer.size();
        if (r.done) {
            if (r.readPos >= r.buffer.size()) return false;
            size_t end = r.buffer.size();
            if (r.buffer[end - 1] == '\r') --end;
            line.assign(r.buffer, r.readPos, end - r.readPos);
            r.readPos = r.scanPos = r.buffer.size();
            return true;
        }
        r.Pump();
    }
}

bool Request::ReadBody(std::string& body) {
    if (!impl_) return false;
    Impl& r = *impl_;
    while (!r.done) r.Pump();
    if (r.error != Status::Ok) return false;
    body.assign(r.buffer, r.readPos, std::string::npos);
    r.readPos = r.scanPos = r.buffer.size();
    return true;
}

Status Request::Error() const {
    return impl_ ? impl_->error : Status::Ok;
}

long Request::HttpStatus() const {
    return impl_ ? impl_->httpStatus : 0;
}

bool SplitHostPort(std::string_view text, int defaultPort, std::string& host, int& port) {
    std::string_view h = text;
    std::string_view p;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        h = text.substr(1, close - 1);
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            p = rest.substr(1);
            if (p.empty()) return false;
        }
    } else {
        const size_t colon = text.rfind(':');
        // More than one colon without brackets: a bare IPv6 address.
        if (colon != std::string_view::npos && text.find(':') == colon) {
            h = text.substr(0, colon);
            p = text.substr(colon + 1);
            if (p.empty()) return false;
        }
    }
    if (h.empty()) return false;
    int value = defaultPort;
    if (!p.empty()) {
        value = 0;
        for (char c : p) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
            if (value > 65535) return false;
        }
    }
    if (value < 1 || value > 65535) return false;
    host.assign(h);
    port = value;
    return true;
}

std::string UrlEncode(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace tunara::http
