#pragma once
// Web servers and a proxy that the tests start on 127.0.0.1: Python's own
// http.server for plain files, a small Python server with misbehaving answers
// (stalls, resets, redirects, chunked bodies), the same over TLS with a
// certificate that openssl makes for the test, and tinyproxy.
#include "support/childprocess.h"
#include "support/loopbackports.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace testing_support {

inline const char* python() {
    return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// The body the behaviour server sends for `size` bytes: byte i is i mod 251, so
// a lost, doubled or moved block shows.
inline std::string patternBody(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>(i % 251);
    return body;
}

// Paths: /pattern?N (N bytes), /chunked?N (N bytes in chunks of odd sizes, size
// lines and data sent apart), /slow?N (headers, 1.5 s of nothing, then N bytes),
// /stall?N (N bytes of a longer announced body, then nothing for a minute),
// /silent (nothing at all), /reset?N (N bytes, then a reset 6 s later, while a
// reader at the window's pace waits for more), /empty (closed
// without an answer), /redirect?URL (302 to URL), /echo (the request's headers
// as the body). Every request line is logged to standard output.
inline constexpr const char* kBehaviourServer = R"PY(
import http.server, socketserver, ssl, socket, struct, sys, time

def pattern(n):
    return bytes(i % 251 for i in range(n))

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *args):
        pass
    def head(self, length=None, chunked=False, status=200, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.flush()
    def do_GET(self):
        print("request", self.requestline, flush=True)
        path, _, arg = self.path.partition("?")
        n = int(arg) if arg.isdigit() else 0
        if path == "/pattern":
            self.head(n)
            self.wfile.write(pattern(n))
        elif path == "/chunked":
            self.head(chunked=True)
            body, at, size = pattern(n), 0, 1
            while at < len(body):
                piece = body[at:at + size]
                self.wfile.write(b"%x\r\n" % len(piece))
                self.wfile.flush()
                time.sleep(0.002)
                self.wfile.write(piece + b"\r\n")
                self.wfile.flush()
                at += len(piece)
                size = size * 3 + 1
            self.wfile.write(b"0\r\n\r\n")
        elif path == "/slow":
            self.head(n)
            time.sleep(1.5)
            self.wfile.write(pattern(n))
        elif path == "/stall":
            self.head(n + 100000)
            self.wfile.write(pattern(n))
            self.wfile.flush()
            time.sleep(60)
        elif path == "/silent":
            time.sleep(60)
        elif path == "/reset":
            self.head(n + 100000)
            self.wfile.write(pattern(n))
            self.wfile.flush()
            time.sleep(6)
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif path == "/empty":
            self.close_connection = True
        elif path == "/redirect":
            body = b"moved"
            self.head(len(body), status=302, extra=[("Location", arg)])
            self.wfile.write(body)
        elif path == "/echo":
            body = str(self.headers).encode()
            self.head(len(body))
            self.wfile.write(body)
        else:
            self.send_error(404)

class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

server = Server(("127.0.0.1", 0), Handler)
if len(sys.argv) == 3:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[1], sys.argv[2])
    server.socket = context.wrap_socket(server.socket, server_side=True)
print("port", server.server_address[1], flush=True)
server.serve_forever()
)PY";

// A server process that says which port it listens on.
class LocalServer {
public:
    explicit LocalServer(std::vector<std::string> argv) : m_process(std::move(argv)) {}
    // Waits for the port it announced after `marker`; 0 when it never did.
    int waitForPort(const std::string& marker) {
        if (!m_process.waitForOutput(marker, 15000)) return 0;
        const std::string& out = m_process.output();
        const std::size_t at = out.find(marker) + marker.size();
        if (!m_process.waitForOutput("\n", 15000)) return 0;
        return std::atoi(out.c_str() + at);
    }
    ChildProcess& process() { return m_process; }

private:
    ChildProcess m_process;
};

// Python's http.server serving `directory`.
class FileServer {
public:
    explicit FileServer(const std::filesystem::path& directory)
        : m_server({python(), "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
                    directory.string()}) {
        m_port = m_server.waitForPort(" port ");
    }
    int port() const { return m_port; }

private:
    LocalServer m_server;
    int m_port = 0;
};

// The behaviour server, plain or (with a certificate and key) over TLS.
class BehaviourServer {
public:
    explicit BehaviourServer(const std::filesystem::path& directory, const std::string& cert = {},
                             const std::string& key = {})
        : m_server(arguments(directory, cert, key)) {
        m_port = m_server.waitForPort("port ");
    }
    int port() const { return m_port; }
    std::string url(const std::string& path, const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(m_port) + path;
    }
    ChildProcess& process() { return m_server.process(); }

private:
    static std::vector<std::string> arguments(const std::filesystem::path& directory,
                                              const std::string& cert, const std::string& key) {
        const auto script = directory / "behaviour.py";
        std::ofstream(script) << kBehaviourServer;
        std::vector<std::string> argv{python(), "-u", script.string()};
        if (!cert.empty()) {
            argv.push_back(cert);
            argv.push_back(key);
        }
        return argv;
    }
    LocalServer m_server;
    int m_port = 0;
};

// A certificate authority and a server certificate for 127.0.0.1 signed by it,
// made with the openssl command in `directory`. ok() is false when it failed.
struct TestCertificates {
    std::string ca, cert, key;
    bool ok = false;

    explicit TestCertificates(const std::filesystem::path& directory) {
        const std::string d = directory.string();
        ca = d + "/ca.pem";
        cert = d + "/server.pem";
        key = d + "/server.key";
        const std::string quiet = " >/dev/null 2>&1";
        const std::string commands[] = {
            "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=ws-test-ca -keyout " + d +
                "/ca.key -out " + ca,
            "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + key + " -out " +
                d + "/server.csr",
            "printf 'subjectAltName=IP:127.0.0.1\\n' > " + d + "/san.cnf",
            "openssl x509 -req -in " + d + "/server.csr -CA " + ca + " -CAkey " + d +
                "/ca.key -CAcreateserial -days 2 -extfile " + d + "/san.cnf -out " + cert,
        };
        for (const auto& c : commands)
            if (std::system((c + quiet).c_str()) != 0) return;
        ok = true;
    }
};

// tinyproxy on a free port of 127.0.0.1, logging every request to its log file.
class Tinyproxy {
public:
    explicit Tinyproxy(const std::filesystem::path& directory)
        : m_port(freePort(SOCK_STREAM)), m_log(directory / "tinyproxy.log"),
          m_process(arguments(directory, m_port, m_log)) {}
    int port() const { return m_port; }
    // Waits until it accepts connections.
    bool ready() {
        for (int i = 0; i < 500; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in a = loopback(m_port);
            const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
            ::close(fd);
            if (ok) return true;
            ::usleep(10000);
        }
        return false;
    }
    std::string log() const {
        std::ifstream in(m_log);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    static std::vector<std::string> arguments(const std::filesystem::path& directory, int port,
                                              const std::filesystem::path& log) {
        const auto conf = directory / "tinyproxy.conf";
        std::ofstream(conf) << "Port " << port << "\nListen 127.0.0.1\nTimeout 30\nLogFile \""
                            << log.string() << "\"\nLogLevel Info\nMaxClients 20\n"
                            << "Allow 127.0.0.1\n";
        return {"tinyproxy", "-d", "-c", conf.string()};
    }
    int m_port;
    std::filesystem::path m_log;
    ChildProcess m_process;
};

} // namespace testing_support
