// The overlay's drawing costs: one full 1920x1080 frame with the perimeter live and every effect on,
// against one translucent full-screen fill (the least any full frame costs); and the time from
// POST /event of a click to the first painted frame with its ripple, against a /health round trip on
// the same connection. Runs on the offscreen platform: painting is real, nothing reaches a display.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

#include <cstdlib>
#include <string>

#include "overlay/service/consent_manager.hpp"
#include "overlay/ui/controller.hpp"
#include "overlay/visuals/desktop_appearance.hpp"
#include "overlay/visuals/overlay_scene.hpp"
#include "overlay/visuals/overlay_view.hpp"

namespace {

namespace asio = boost::asio;
using namespace pavo::overlay;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

double measure(const QString& text, const QFont& font) {
    return QFontMetricsF(font).horizontalAdvance(text);
}

// Everything at once, 0.15 s after the effects started: the halo, the growing ripple, the pill, the
// element box, the red border, over the breathing perimeter.
struct BusyScene {
    BusyScene() : scene(clock, desktopEffectStyle(), false, &measure) {
        scene.setSize(QSizeF(kWidth, kHeight));
        scene.glassRelay().setState(RelayState::active);
        clock.advanceTo(1.0);
        scene.showCursorHalo(QPointF(400, 300));
        scene.showClickRipple(QPointF(900, 500));
        scene.showKeyChordPill("cmd+shift+k");
        scene.showElementBBox(QRectF(1200, 600, 320, 48));
        scene.showDestructiveBorder();
    }
    ManualClock clock;
    OverlayScene scene;
};

void BM_FrameEveryEffect(benchmark::State& state) {
    BusyScene busy;
    QImage frame(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        frame.fill(Qt::transparent);
        QPainter painter(&frame);
        busy.scene.paint(painter, 1.15);
    }
}
BENCHMARK(BM_FrameEveryEffect)->Unit(benchmark::kMillisecond);

// What the view repaints while only the perimeter breathes: the four bands, not the middle.
void BM_FramePerimeterOnly(benchmark::State& state) {
    ManualClock clock;
    OverlayScene scene(clock, desktopEffectStyle(), false, &measure);
    scene.setSize(QSizeF(kWidth, kHeight));
    scene.glassRelay().setState(RelayState::active);
    const QRegion region = scene.visibleRegion(1.0);
    QImage frame(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&frame);
        painter.setClipRegion(region);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(frame.rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        scene.paint(painter, 1.0);
    }
}
BENCHMARK(BM_FramePerimeterOnly)->Unit(benchmark::kMillisecond);

void BM_ReferenceFullScreenFill(benchmark::State& state) {
    QImage frame(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        frame.fill(Qt::transparent);
        QPainter painter(&frame);
        painter.fillRect(frame.rect(), QColor(40, 120, 220, 128));
    }
}
BENCHMARK(BM_ReferenceFullScreenFill)->Unit(benchmark::kMillisecond);

// A running overlay (controller, event server, view) and one keep-alive connection to it.
struct RunningOverlay {
    RunningOverlay() : consent(ConsentMode::off) {
        CLIConfig config;
        config.port = 0;
        config.token = "T";
        config.showMenuBar = false;
        delegate = std::make_unique<OverlayAppDelegate>(config, consent);
        delegate->applicationDidFinishLaunching();
        socket.connect(asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), *delegate->serverPort()));
        socket.set_option(asio::ip::tcp::no_delay(true));
        delegate->overlayView()->framePainted = [this](double) {
            const auto& ripple = delegate->overlayView()->scene().currentRipple();
            if (ripple && ripple.get() != lastRipple && ripple->superlayer()) {
                lastRipple = ripple.get();
                ripplePainted = true;
            }
        };
    }
    void send(const std::string& request) { asio::write(socket, asio::buffer(request)); }
    // Reads one reply (head and Content-Length body).
    void readReply() {
        const std::size_t head = asio::read_until(socket, asio::dynamic_buffer(pending), "\r\n\r\n");
        const auto at = pending.find("Content-Length: ");
        const std::size_t length = std::stoul(pending.substr(at + 16));
        if (pending.size() < head + length) {
            asio::read(socket, asio::dynamic_buffer(pending),
                       asio::transfer_exactly(head + length - pending.size()));
        }
        pending.erase(0, head + length);
    }

    ConsentManager consent;
    std::unique_ptr<OverlayAppDelegate> delegate;
    asio::io_context io;
    asio::ip::tcp::socket socket{io};
    std::string pending;
    const void* lastRipple = nullptr;
    bool ripplePainted = false;
};

RunningOverlay& overlay() {
    static RunningOverlay running;
    return running;
}

std::string post(const std::string& body) {
    return "POST /event HTTP/1.1\r\nHost: 127.0.0.1\r\nx-overlay-token: T\r\nContent-Type: "
           "application/json\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

void BM_ClickToFirstRippleFrame(benchmark::State& state) {
    RunningOverlay& o = overlay();
    const std::string click = post(R"({"type":"click","x":640,"y":400})");
    for (auto _ : state) {
        o.ripplePainted = false;
        o.send(click);
        while (!o.ripplePainted) QCoreApplication::processEvents(QEventLoop::AllEvents);
        state.PauseTiming();
        o.readReply();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ClickToFirstRippleFrame)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ReferenceHealthRoundTrip(benchmark::State& state) {
    RunningOverlay& o = overlay();
    const std::string health = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (auto _ : state) {
        o.send(health);
        o.readReply();
    }
}
BENCHMARK(BM_ReferenceHealthRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // Starting on port 0 publishes overlay.sock under HOME: keep it out of the real one.
    QTemporaryDir home;
    ::setenv("HOME", home.path().toLocal8Bit().constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
