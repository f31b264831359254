#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The raw HTTP client's rules for what it fetches and where it stores it: the
// path split, the fetch decision, the request bytes and the checks that keep
// every stored file beneath the server's folder. No window, no socket.
namespace tools::http {

// DirectoryPart: up to and including the last "/"; without one, up to the
// first ":" followed by "/"; otherwise empty. Trailing blanks of `s` are ignored.
std::string DirectoryPart(std::string_view s);
// FileNamePart: after the last "/"; empty when there is none but a ":";
// otherwise `s` itself. Trailing blanks removed.
std::string FileNamePart(std::string_view s);

// The fetch decision: an existing non-empty file is skipped, except on the first
// fetch after Go and when "write over" is on. `firstSinceGo` is FetchedSinceGo
// still off; the caller turns it on afterwards.
bool shouldFetch(bool fileExistsNonEmpty, bool firstSinceGo, bool writeOver);

// The request for `path` (written without its leading "/") to `resolvedIp` and
// `port`: seven lines ended by CR LF and one more CR LF. The Host line carries
// the address and always the port.
std::string requestText(std::string_view path, std::string_view resolvedIp, std::uint16_t port);

// A server name that may become a folder name: letters, digits, "-" and ".",
// with at least one letter or digit, and an optional ":port" of digits; or an
// IPv6 address in brackets, as isBracketedIpv6 takes it.
bool isPlainHostName(std::string_view server);

// An IPv6 server as URLs and Host headers write it: the address in brackets and
// an optional ":port" of digits ("[2001:db8::1]", "[::1]:8080"). Nothing in it
// separates folders, so it may name one as it stands.
bool isBracketedIpv6(std::string_view server);
// A bare IPv6 address ("2001:db8::1") put in brackets; any other text as it is.
std::string bracketedServer(std::string_view server);

// A page path that stays beneath the server's folder: not absolute and no ".."
// segment (backslashes count as separators, as they become "/" on disk).
bool staysInside(std::string_view path);

// Where a local path goes on disk: backslashes become "/".
std::string diskPath(std::string_view path);

// Exactly three dots within the first 32 characters: the text is used as the
// address itself, with no lookup.
bool isDottedAddress(std::string_view server);

// A server text "host:port" split into its host and port; a text without a
// port of digits after its last ":" is all host, with no port.
struct HostPort {
    std::string host;
    std::optional<std::uint16_t> port;
};
HostPort splitHostPort(std::string_view server);

// A page path as a file name on disk: bytes that would not show, or would turn
// the text around (control characters, DEL, C1 controls, the Unicode
// bidirectional marks and overrides), become "%XX", so a stored name is always
// printable and is what it looks like.
std::string printableName(std::string_view path);

// An off-site link split into server and page: the scheme prefix ("HTTP://" or
// "HTTPS://", any case, when at least two characters follow) is dropped, leading
// blanks go, and the text after the first "/" is the page.
struct OffSiteTarget {
    std::string server; // first 127 characters of the link before the split
    std::string page;
};
OffSiteTarget offSiteTarget(std::string_view url);

} // namespace tools::http
