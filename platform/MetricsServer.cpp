#include "platform/MetricsServer.h"

#ifdef VOSTRINE_WITH_HTTPLIB

#include <httplib.h>

#include <memory>
#include <thread>

namespace {

std::unique_ptr<httplib::Server> server;
std::thread serving;

}  // namespace

bool StartMetricsServer(const NetAddress& at, std::function<std::string()> render, std::string* fault) {
    server = std::make_unique<httplib::Server>();
    server->new_task_queue = [] { return new httplib::ThreadPool(1); };  // a scrape at a time is plenty
    server->Get("/metrics", [render](const httplib::Request&, httplib::Response& response) {
        response.set_content(render(), "text/plain; version=0.0.4; charset=utf-8");
    });
    char host[64];
    FormatAddress(at, host, sizeof host);
    if (!server->bind_to_port(host, at.Port)) {
        *fault = std::string("cannot listen on ") + host + " port " + std::to_string(at.Port);
        server.reset();
        return false;
    }
    serving = std::thread([] { server->listen_after_bind(); });
    return true;
}

void StopMetricsServer() {
    if (!server) return;
    server->stop();
    serving.join();
    server.reset();
}

#else

bool StartMetricsServer(const NetAddress&, std::function<std::string()>, std::string* fault) {
    *fault = "this vostrine was built without cpp-httplib (libcpp-httplib-dev)";
    return false;
}

void StopMetricsServer() {}

#endif
