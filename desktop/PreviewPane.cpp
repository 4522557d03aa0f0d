// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The live preview: its builder thread and the strip of pages it shows.
// The builder keeps one engine for its whole life (the fonts it has looked
// up stay warm) and only ever the newest request: a request that arrives
// while another waits replaces it, and one that arrives while a build runs
// stops that build at its next macro line.
#include "PreviewPane.h"

#include "BaseFolder.h"
#include "Cp1252.h"
#include "ErrorBox.h"
#include "FaxImage.h"
#include "MacroEncoding.h"
#include "PrefixOffer.h"

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <thread>

namespace folio::ui {

namespace {

// Gap around and between the pages, in screen pixels.
constexpr int kGap = 8;

// The settings as they were when the request was made: the dialog's fields
// belong to the GUI thread.
class SettingsCopy : public FaxSettingsSource {
  public:
    std::array<std::string, 8> values;
    std::string WidthText() const override { return values[0]; }
    std::string HeightText() const override { return values[1]; }
    std::string LeftMarginText() const override { return values[2]; }
    std::string TopMarginText() const override { return values[3]; }
    std::string FontName() const override { return values[4]; }
    std::string FontSizeText() const override { return values[5]; }
    std::string MacroStart() const override { return values[6]; }
    std::string CommentStart() const override { return values[7]; }
};

struct Collector : folio::DiagnosticSink {
    std::vector<folio::Diagnostic>* out;
    void Report(const folio::Diagnostic& d) override {
        // The list under the editor keeps 1000; a few more tell it how many
        // it left out, and the memory stays bounded.
        if (out->size() < 100000)
            out->push_back(d);
    }
};

} // namespace

// Each screen pixel is the share of black among the page pixels it covers
// (a box filter): thin strokes stay as grey rather than vanish. The page
// rows of one screen row are summed eight pixels at a time (one byte of
// bits adds a 0 or 1 to each of eight byte counters in a 64-bit word), so
// a page costs a millisecond or two where a general smooth scaling of it
// costs tens.
QImage ReducedPage(const QImage& page, int width) {
    const int inW = page.width(), inH = page.height();
    if (page.format() != QImage::Format_Mono || width >= inW || inW <= 0 || inH <= 0 ||
        std::endian::native != std::endian::little)
        return page.convertToFormat(QImage::Format_Grayscale8)
            .scaledToWidth(std::max(1, width), Qt::SmoothTransformation);
    width = std::max(1, width);
    const int height = std::max(1, int((qint64(inH) * width + inW / 2) / inW));
    // Byte k of kSpread[b] is bit 7 - k of b: the pixels of a byte in order.
    static const std::array<std::uint64_t, 256> kSpread = [] {
        std::array<std::uint64_t, 256> table{};
        for (int b = 0; b < 256; ++b)
            for (int k = 0; k < 8; ++k)
                if ((b >> (7 - k)) & 1)
                    table[std::size_t(b)] |= std::uint64_t(1) << (8 * k);
        return table;
    }();
    // Whether index 1 of the colour table is the dark one.
    const bool oneIsBlack = page.colorCount() < 2 || qGray(page.color(1)) < qGray(page.color(0));
    std::vector<int> from(static_cast<std::size_t>(width) + 1);
    for (int x = 0; x <= width; ++x)
        from[std::size_t(x)] = int(qint64(x) * inW / width);
    const int inBytes = (inW + 7) / 8;
    std::vector<std::uint64_t> counts(static_cast<std::size_t>(inBytes));
    const auto* count = reinterpret_cast<const unsigned char*>(counts.data());
    QImage out(width, height, QImage::Format_Grayscale8);
    for (int oy = 0; oy < height; ++oy) {
        const int y0 = int(qint64(oy) * inH / height);
        // A screen row covers at most a few page rows; 255 keeps the byte
        // counters from overflowing whatever the sizes.
        const int y1 = std::min({std::max(y0 + 1, int(qint64(oy + 1) * inH / height)), inH,
                                 y0 + 255});
        std::fill(counts.begin(), counts.end(), 0);
        for (int y = y0; y < y1; ++y) {
            const uchar* row = page.constScanLine(y);
            for (int i = 0; i < inBytes; ++i)
                counts[std::size_t(i)] += kSpread[row[i]];
        }
        const int rows = y1 - y0;
        uchar* line = out.scanLine(oy);
        for (int ox = 0; ox < width; ++ox) {
            unsigned ones = 0;
            for (int x = from[std::size_t(ox)]; x < from[std::size_t(ox) + 1]; ++x)
                ones += count[x];
            const unsigned area = unsigned(from[std::size_t(ox) + 1] - from[std::size_t(ox)]) *
                                  unsigned(rows);
            const unsigned black = oneIsBlack ? ones : area - ones;
            line[ox] = uchar(255 - (255 * black + area / 2) / std::max(1u, area));
        }
    }
    return out;
}

namespace {

QImage scaledPage(const QImage& page, int width) {
    return ReducedPage(page, width);
}

} // namespace

// ---- the builder ------------------------------------------------------

class PreviewBuilder {
  public:
    using Deliver = std::function<void(PreviewResult, QList<QImage>)>;

    explicit PreviewBuilder(Deliver deliver)
        : deliver_(std::move(deliver)), thread_([this] { run(); }) {}
    ~PreviewBuilder() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            latest_ = 0;
        }
        wake_.notify_one();
        thread_.join();
    }

    // `width`: the width in device pixels the pages are scaled to for the
    // screen.
    void Post(PreviewRequest request, int width) {
        {
            std::lock_guard lock(mutex_);
            latest_ = request.generation;
            pending_ = std::move(request);
            width_ = width;
        }
        wake_.notify_one();
    }
    void Cancel() {
        std::lock_guard lock(mutex_);
        pending_.reset();
        latest_ = 0;
    }

  private:
    void run() {
        // Behind the GUI thread when the cores are busy: typing comes first.
        // (On Linux the nice value is the calling thread's own.)
        errno = 0;
        if (::setpriority(PRIO_PROCESS, 0, std::min(19, ::getpriority(PRIO_PROCESS, 0) + 5)) != 0)
            errno = 0;
        SettingsCopy settings;
        std::unique_ptr<FaxImage> engine;
        for (;;) {
            PreviewRequest request;
            int width = 0;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stop_ || pending_; });
                if (stop_)
                    return;
                request = std::move(*pending_);
                pending_.reset();
                width = width_;
            }
            settings.values = request.settings;
            build(engine, settings, request, width);
        }
    }

    bool superseded(quint64 generation) const { return latest_.load() != generation; }

    void build(std::unique_ptr<FaxImage>& engine, SettingsCopy& settings,
               const PreviewRequest& request, int width) {
        const auto start = std::chrono::steady_clock::now();
        PreviewResult result;
        result.generation = request.generation;
        Collector sink;
        sink.out = &result.diagnostics;
        std::unique_ptr<folio::BaseFolder> base;
        if (!request.folder.isEmpty()) {
            std::string error;
            base = folio::BaseFolder::Create(QFile::encodeName(request.folder).toStdString(),
                                             error);
        }
        // Listed as a Process lists it: before what the run itself reports.
        const QByteArray macroStart = QByteArray::fromStdString(request.settings[6]);
        const OtherPrefix other = FindOtherPrefix(
            request.lines, macroStart, QByteArray::fromStdString(request.settings[7]));
        if (other.Found())
            sink.Report(OtherPrefixNote(other, FromCp1252(macroStart)));
        bool stopped = false;
        bool started = false; // the engine took the settings
        try {
            if (!engine)
                engine = std::make_unique<FaxImage>(settings, nullptr);
            else
                engine->ResetAll();
            started = true;
            engine->SetDiagnostics(&sink);
            engine->SetFileGate(base.get());
            std::vector<char> line;
            int number = 0;
            for (const QString& text : request.lines) {
                if (superseded(request.generation)) {
                    stopped = true;
                    break;
                }
                folio::Diagnostic d;
                if (OutsideCp1252Report(text, number + 1, d))
                    sink.Report(d);
                const QByteArray bytes = ToCp1252(text);
                line.assign(bytes.begin(), bytes.end());
                line.push_back('\0');
                engine->SetSourceLine(++number);
                if (!engine->ProcessCommand(line.data()))
                    break;
            }
        } catch (const std::exception& e) {
            result.error = ErrorText(e);
        }
        if (engine) {
            engine->SetDiagnostics(nullptr);
            engine->SetFileGate(nullptr);
        }
        if (stopped || superseded(request.generation))
            return;
        // Settings no page can be made with (a width that is no number):
        // no pages, and the reason.
        if (!started) {
            deliver_(std::move(result), {});
            return;
        }
        // The engine stays this thread's: its pages are copied out. A page
        // that is parked is unpacked by the read.
        QList<QImage> scaled;
        result.pageCount = engine->PageCount;
        int n = 0;
        for (Link* link = engine->Pages->First(); link && n < engine->PageCount;
             link = link->Suc(), ++n) {
            if (n >= PreviewPane::kMaxPages || superseded(request.generation))
                break;
            const folio::Bitmap& bits = static_cast<FaxPage*>(link)->PageImage.Picture();
            if (bits.Empty())
                continue;
            QImage wrapped(bits.Bits(), bits.Width(), bits.Height(), bits.Stride(),
                           QImage::Format_Mono);
            wrapped.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
            result.pages.append(wrapped.copy());
            scaled.append(scaledPage(result.pages.last(), width));
        }
        result.buildMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (!superseded(request.generation))
            deliver_(std::move(result), std::move(scaled));
    }

    Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<PreviewRequest> pending_;
    int width_ = 0;
    bool stop_ = false;
    std::atomic<quint64> latest_{0};
    std::thread thread_; // last: it starts once the rest is made
};

// ---- the strip of pages -------------------------------------------------

class PageStrip : public QWidget {
  public:
    explicit PageStrip(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    // `pages` are in device pixels, all of one width.
    void SetPages(QList<QImage> pages, int width) {
        pages_ = std::move(pages);
        width_ = width;
        const qreal ratio = devicePixelRatioF();
        int height = kGap;
        for (QImage& page : pages_) {
            page.setDevicePixelRatio(ratio);
            height += qRound(page.height() / ratio) + kGap;
        }
        setFixedSize(qRound(width / ratio) + 2 * kGap, height);
        update();
    }
    int ScaledWidth() const { return width_; }

  protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.fillRect(event->rect(), palette().color(QPalette::Mid));
        int y = kGap;
        for (const QImage& page : pages_) {
            const QSize size = page.deviceIndependentSize().toSize();
            const QRect place(QPoint(kGap, y), size);
            if (place.intersects(event->rect())) {
                painter.fillRect(place.adjusted(1, 1, 1, 1), palette().color(QPalette::Dark));
                painter.drawImage(place.topLeft(), page);
            }
            y += size.height() + kGap;
        }
    }

  private:
    QList<QImage> pages_;
    int width_ = 0;
};

// ---- the pane -----------------------------------------------------------

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
    status_ = new QLabel(this);
    status_->setContentsMargins(4, 2, 4, 2);
    scroll_ = new QScrollArea(this);
    strip_ = new PageStrip(scroll_);
    scroll_->setWidget(strip_);
    scroll_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll_->setBackgroundRole(QPalette::Mid);
    scroll_->viewport()->installEventFilter(this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(status_);
    column->addWidget(scroll_, 1);
    status_->setText(QStringLiteral("Preview"));
    builder_ = std::make_unique<PreviewBuilder>([this](PreviewResult result,
                                                       QList<QImage> scaled) {
        // From the builder's thread: the pane takes it on its own.
        QMetaObject::invokeMethod(
            this,
            [this, result = std::move(result), scaled = std::move(scaled)]() mutable {
                take(result, std::move(scaled));
            },
            Qt::QueuedConnection);
    });
}

PreviewPane::~PreviewPane() {
    builder_.reset(); // joins the thread before the widgets go
}

int PreviewPane::pageWidth() const {
    const int logical = scroll_->viewport()->width() - 2 * kGap;
    return std::max(32, qRound(logical * devicePixelRatioF()));
}

quint64 PreviewPane::Request(PreviewRequest request) {
    request.generation = ++requested_;
    builder_->Post(std::move(request), pageWidth());
    return requested_;
}

void PreviewPane::Clear() {
    ++requested_;
    builder_->Cancel();
    pages_.clear();
    pageCount_ = 0;
    shown_ = 0;
    strip_->SetPages({}, pageWidth());
    status_->setText(QStringLiteral("Preview"));
}

void PreviewPane::take(const PreviewResult& result, QList<QImage> scaled) {
    // A result a newer request overtook on its way is not shown.
    if (result.generation != requested_)
        return;
    pages_ = result.pages;
    pageCount_ = result.pageCount;
    shown_ = result.generation;
    // Replacing the pages leaves the scroll bar where it was: the same
    // place of the text stays in view while it is typed.
    const int width = pageWidth();
    if (!scaled.isEmpty() && scaled.first().width() != width)
        for (qsizetype i = 0; i < scaled.size(); ++i)
            scaled[i] = scaledPage(pages_[i], width);
    strip_->SetPages(std::move(scaled), width);
    QString text = pageCount_ == 1 ? QStringLiteral("1 page")
                                   : QStringLiteral("%1 pages").arg(pageCount_);
    if (pageCount_ > pages_.size())
        text += QStringLiteral(" (the first %1 shown)").arg(pages_.size());
    if (!result.error.isEmpty())
        text += QStringLiteral("; stopped: ") + result.error;
    status_->setText(text);
    status_->setToolTip(text);
    emit shown(result);
}

void PreviewPane::rescale() {
    const int width = pageWidth();
    if (width == strip_->ScaledWidth() || pages_.isEmpty())
        return;
    QList<QImage> scaled;
    for (const QImage& page : pages_)
        scaled.append(scaledPage(page, width));
    strip_->SetPages(std::move(scaled), width);
}

bool PreviewPane::eventFilter(QObject* watched, QEvent* event) {
    // A new width is scaled for once the resizing has settled.
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize)
        QTimer::singleShot(100, this, &PreviewPane::rescale);
    return QWidget::eventFilter(watched, event);
}

} // namespace folio::ui
