#pragma once
// A small HTTP client for line-oriented replies (the CDDB lookup): a session
// with a user agent and an optional proxy, a connection to one host and port,
// a GET of an object and a reader that hands the body back line by line as it
// arrives. Built on libcurl.
//
// Every wait is bounded: connecting gives up after `connectTimeout`, a whole
// request after `totalTimeout`, a line longer than `maxLineBytes` or a body
// larger than `maxBodyBytes` ends the request with an error. A cancel flag,
// shared by everything opened from the session, ends a request within about
// `pollInterval` from any thread.
//
// One Session and what is opened from it belong to one thread; only Cancel
// may be called from another.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace tunara::http {

// Codes of the failures a lookup reports; the numbers are stable and stay
// out of the range of server reply codes (100..999).
enum class Status : int {
    Ok = 0,
    Timeout = 12002,            // connecting or the whole request took too long
    InternalError = 12004,      // the HTTP library failed to start a request
    BadUrl = 12005,             // host or object cannot form a request
    NameNotResolved = 12007,    // host (or proxy) name unknown
    Cancelled = 12017,          // Cancel was called
    CannotConnect = 12029,      // refused or unreachable
    ConnectionAborted = 12030,  // the connection broke during the reply
    LineTooLong = 12150,        // a reply line longer than maxLineBytes
    BodyTooLarge = 12151,       // a reply larger than maxBodyBytes
    BadResponse = 12152,        // not an HTTP reply, or an HTTP status other than 2xx
};
// A sentence for the user, e.g. "The connection to the server timed out".
const char* StatusText(Status status);

struct Options {
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds totalTimeout{30000};
    // How often a waiting request looks at the cancel flag.
    std::chrono::milliseconds pollInterval{50};
    size_t maxLineBytes = 8 * 1024;
    size_t maxBodyBytes = 1024 * 1024;
};

class Connection;
class Request;

class Session {
public:
    // `proxy` is "host:port", empty for a direct connection.
    Session(std::string userAgent, std::string proxy = {}, Options options = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const Options& GetOptions() const { return options_; }
    // Ends the request in progress (and every later one) with Cancelled.
    // Safe from any thread.
    void Cancel() { cancelled_->store(true); }
    bool Cancelled() const { return cancelled_->load(); }
    // Lets several sessions (or a session and its owner) share one flag.
    void ShareCancelFlag(std::shared_ptr<std::atomic<bool>> flag) { cancelled_ = std::move(flag); }

private:
    friend class Connection;
    friend class Request;
    std::string userAgent_;
    std::string proxy_;
    Options options_;
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

class Connection {
public:
    // Nothing goes over the network until a request is sent. With `https`
    // the requests go over TLS, the server's certificate checked.
    Connection(Session& session, std::string host, int port, bool https = false);

    // Sends "GET object" (object is the path and query, e.g. "/x.cgi?a=b");
    // with Ok, `request` reads the body. Failures to connect or a non-2xx
    // status come back here. Returns Ok or any failure code.
    Status Get(std::string_view object, Request& request);

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }

private:
    Session& session_;
    std::string host_;
    int port_;
    bool https_;
};

class Request {
public:
    Request();
    ~Request();
    Request(Request&&) noexcept;
    Request& operator=(Request&&) noexcept;

    // The next line of the body without its "\n" or "\r\n". Returns true with
    // a line; false at the end of the body or on failure, which Error() tells
    // apart (Ok at the end).
    bool ReadLine(std::string& line);
    // The rest of the body as it is (binary replies); false on failure, which Error() tells.
    // The session's line limit still applies to the bytes between line breaks.
    bool ReadBody(std::string& body);
    Status Error() const;
    // The HTTP status of the reply (0 before it arrived).
    long HttpStatus() const;

private:
    friend class Connection;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Splits "host", "host:port" or "[v6addr]:port"; the port is `defaultPort`
// when none is given. False for an empty host or a port outside 1..65535.
bool SplitHostPort(std::string_view text, int defaultPort, std::string& host, int& port);

// Escapes every byte outside the unreserved set of URLs as %XX.
std::string UrlEncode(std::string_view text);

}  // namespace tunara::http
