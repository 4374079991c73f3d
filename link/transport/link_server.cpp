#include "link/transport/link_server.h"

#include <atomic>
#include <mutex>

#include <asio.hpp>

#include "link/discovery/service_advertiser.h"
#include "link/transport/tcp_settings.h"

namespace pelorin::link {

struct LinkServer::Core : std::enable_shared_from_this<Core> {
    Core(asio::io_context& context, asio::ip::tcp::acceptor acceptor, std::string name,
         SecureLink::Identity identity)
        : strand(asio::make_strand(context)),
          acceptor(std::move(acceptor)),
          name(std::move(name)),
          identity(std::move(identity)),
          listeningPort(this->acceptor.local_endpoint().port()) {}

    asio::strand<asio::io_context::executor_type> strand;
    std::weak_ptr<LinkServer> owner;
    std::atomic<bool> started{false};
    std::atomic<bool> listening{true};

    mutable std::mutex nameMutex;
    std::optional<std::string> registeredName;

    // Strand only.
    asio::ip::tcp::acceptor acceptor;
    const std::string name;
    const SecureLink::Identity identity;
    const std::uint16_t listeningPort;
    // The advertiser's event thread posts to the strand, so it must be gone before the
    // runtime is: the owner's destructor ends it at once rather than through the strand.
    std::mutex advertiserMutex;
    std::unique_ptr<ServiceAdvertiser> advertiser;  // under advertiserMutex
    bool advertising = true;                        // under advertiserMutex
    bool stopped = false;

    template <class F>
    void post(F&& f) {
        asio::post(strand, std::forward<F>(f));
    }

    void report(const State& state) {
        if (stopped) return;
        if (auto server = owner.lock()) server->onStateChange(state);
    }

    void begin() {
        if (stopped) return;
        report(State::ready(listeningPort));
        accept();
        if (!name.empty()) advertise();
    }

    void accept() {
        acceptor.async_accept(asio::bind_executor(
            strand,
            [self = shared_from_this()](std::error_code error, asio::ip::tcp::socket socket) {
                self->accepted(error, std::move(socket));
            }));
    }

    void accepted(std::error_code error, asio::ip::tcp::socket socket) {
        if (stopped || error == asio::error::operation_aborted) return;
        if (error) {
            // A peer that gave up before being accepted costs nothing; anything else (out of
            // descriptors, say) stops the listener rather than spinning on it.
            if (error == asio::error::connection_aborted) return accept();
            return report(State::failed(error.message()));
        }
        accept();
        auto server = owner.lock();
        if (!server || !server->onConnection) return;  // the socket closes as it goes
        TcpSettings::apply(socket);
        server->onConnection(LinkConnection::server(std::move(socket), identity));
    }

    void advertise() {
        std::lock_guard lock(advertiserMutex);
        if (!advertising) return;
        // The event thread only posts: were it to hold the last reference, the core (and with
        // it the advertiser's own thread) would be freed from that very thread.
        advertiser = std::make_unique<ServiceAdvertiser>(
            name, listeningPort,
            [weak = weak_from_this(), strand = strand](const ServiceAdvertiser::Event& event) {
                asio::post(strand, [weak, event] {
                    if (auto self = weak.lock()) self->advertised(event);
                });
            });
    }

    void advertised(const ServiceAdvertiser::Event& event) {
        if (stopped) return;
        if (event.kind == ServiceAdvertiser::Event::Kind::registered) {
            std::lock_guard lock(nameMutex);
            registeredName = event.text;
        } else {
            report(State::failed(event.text));
        }
    }

    // Any thread but the advertiser's own.
    void stopAdvertising() {
        std::lock_guard lock(advertiserMutex);
        advertising = false;
        advertiser.reset();
    }

    void stop(bool reporting) {
        if (stopped) return;
        stopped = true;
        listening = false;
        std::error_code ignored;
        acceptor.close(ignored);
        stopAdvertising();
        // Reported last, so that whoever hears "stopped" finds the server stopped; report()
        // itself is silent from now on.
        if (reporting)
            if (auto server = owner.lock()) server->onStateChange(State::stopped());
    }
};

Expected<std::shared_ptr<LinkServer>, std::string> LinkServer::create(
    LinkRuntime& runtime, std::optional<std::string> name, std::optional<std::uint16_t> port,
    SecureLink::Identity identity) {
    auto& context = runtime.context();
    asio::ip::tcp::acceptor acceptor(context);
    const auto listen = [&](const asio::ip::tcp& protocol) {
        std::error_code error;
        acceptor.open(protocol, error);
        if (!error && protocol == asio::ip::tcp::v6()) {
            // One socket for IPv4 and IPv6 phones alike.
            acceptor.set_option(asio::ip::v6_only(false), error);
        }
        if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
        if (!error) acceptor.bind({protocol, port.value_or(0)}, error);
        if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
        if (error) {
            std::error_code ignored;
            acceptor.close(ignored);
        }
        return error;
    };
    std::error_code error = listen(asio::ip::tcp::v6());
    if (error && error != asio::error::address_in_use) error = listen(asio::ip::tcp::v4());
    if (error) return unexpected(error.message());

    auto core = std::make_shared<Core>(context, std::move(acceptor), name.value_or(""),
                                       std::move(identity));
    std::shared_ptr<LinkServer> server(new LinkServer(core));
    core->owner = server;
    return server;
}

LinkServer::LinkServer(std::shared_ptr<Core> core) : core_(std::move(core)) {}

LinkServer::~LinkServer() {
    core_->stopAdvertising();
    core_->post([core = core_] { core->stop(false); });
}

void LinkServer::start() {
    if (core_->started.exchange(true)) return;
    onStateChange(State::starting());
    core_->post([core = core_] { core->begin(); });
}

void LinkServer::stop() {
    core_->post([core = core_] { core->stop(true); });
}

std::optional<std::uint16_t> LinkServer::port() const {
    if (!core_->listening) return std::nullopt;
    return core_->listeningPort;
}

std::optional<std::string> LinkServer::advertisedName() const {
    std::lock_guard lock(core_->nameMutex);
    return core_->registeredName;
}

}  // namespace pelorin::link
