// corvane-probe-window: a window for end-to-end tests on a Wayland (or X)
// desktop. It fills itself with one colour and writes every key and pointer
// event it receives, one line each, flushed at once, so that a test can see
// what a client's keys and clicks did to a real window of the desktop.
//
//   corvane-probe-window [--colour RRGGBB] [--log FILE] [--screen-at X,Y]
//                        [--cursor arrow|cross] [--cycle RRGGBB,... --hz N]
//
// With --cycle the window takes the listed colours in turn, N times a second
// (a workload for benchmarks: every change is the whole window).
//
// Full screen, on the screen holding X,Y with --screen-at (a Wayland client
// cannot place itself; it can ask for a monitor); the pointer over it has the
// --cursor shape (the arrow by default). Lines written:
//   mapped W H                         the window is on screen (its size)
//   key press|release key=0xQTKEY scan=N text=TEXT   (scan: the native code,
//                                      on Wayland the XKB key code = evdev + 8)
//   mouse press|release button=N x=X y=Y
//   mouse move x=X y=Y
//   wheel dx=DX dy=DY                  Qt's angle delta (120 per notch,
//                                      positive = away from the user / left)
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <optional>

namespace {

// Where the event lines go; flushed after each line.
class EventLog {
  public:
    explicit EventLog(FILE* out) : out_(out) {}
    void line(const QString& text) {
        const QByteArray bytes = text.toUtf8();
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out_);
        std::fputc('\n', out_);
        std::fflush(out_);
    }

  private:
    FILE* out_;
};

// Text of a key event with control characters written as \uXXXX, so that a
// line stays one line.
QString printable(const QString& text) {
    QString out;
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char('\\'))
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

class ProbeWindow : public QWidget {
  public:
    ProbeWindow(QColor colour, Qt::CursorShape shape, EventLog& log) : colour_(colour), log_(log) {
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setCursor(shape);
    }

    void setColour(QColor colour) {
        colour_ = colour;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour_); }
    void showEvent(QShowEvent*) override { activateWindow(); }
    // The platform window, not the widget, hears that it went on screen.
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Expose && !mapped_ && windowHandle() &&
            windowHandle()->isExposed()) {
            mapped_ = true;
            log_.line(QStringLiteral("mapped %1 %2").arg(width()).arg(height()));
        }
        return QWidget::eventFilter(watched, e);
    }
    void keyPressEvent(QKeyEvent* e) override { key("press", e); }
    void keyReleaseEvent(QKeyEvent* e) override { key("release", e); }
    void mousePressEvent(QMouseEvent* e) override { mouse("press", e); }
    void mouseReleaseEvent(QMouseEvent* e) override { mouse("release", e); }
    void mouseDoubleClickEvent(QMouseEvent* e) override { mouse("press", e); }
    void mouseMoveEvent(QMouseEvent* e) override {
        const QPoint p = e->position().toPoint();
        log_.line(QStringLiteral("mouse move x=%1 y=%2").arg(p.x()).arg(p.y()));
    }
    void wheelEvent(QWheelEvent* e) override {
        log_.line(
            QStringLiteral("wheel dx=%1 dy=%2").arg(e->angleDelta().x()).arg(e->angleDelta().y()));
    }

  private:
    void key(const char* what, QKeyEvent* e) {
        log_.line(QStringLiteral("key %1 key=0x%2 scan=%3 text=%4")
                      .arg(QLatin1String(what))
                      .arg(e->key(), 0, 16)
                      .arg(e->nativeScanCode())
                      .arg(printable(e->text())));
    }
    void mouse(const char* what, QMouseEvent* e) {
        const QPoint p = e->position().toPoint();
        log_.line(QStringLiteral("mouse %1 button=%2 x=%3 y=%4")
                      .arg(QLatin1String(what))
                      .arg(static_cast<int>(e->button()))
                      .arg(p.x())
                      .arg(p.y()));
    }

    QColor colour_;
    EventLog& log_;
    bool mapped_ = false;
};

QColor parseColour(const QString& text) {
    bool ok = false;
    const uint rgb = text.toUInt(&ok, 16);
    if (!ok || text.size() != 6)
        return {};
    return QColor::fromRgb(rgb);
}

std::optional<Qt::CursorShape> parseCursor(const QString& name) {
    if (name == QLatin1String("arrow"))
        return Qt::ArrowCursor;
    if (name == QLatin1String("cross"))
        return Qt::CrossCursor;
    return std::nullopt;
}

int usage(const char* why) {
    std::fprintf(stderr,
                 "corvane-probe-window: %s\n"
                 "usage: corvane-probe-window [--colour RRGGBB] [--log FILE] [--screen-at X,Y]\n"
                 "                            [--cursor arrow|cross] [--cycle RRGGBB,... --hz N]\n",
                 why);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QColor colour = QColor::fromRgb(0x2080C0);
    QString logPath;
    std::optional<QPoint> screenAt;
    Qt::CursorShape cursor = Qt::ArrowCursor;
    QList<QColor> cycle;
    int hz = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--colour") && hasValue) {
            colour = parseColour(args[++i]);
            if (!colour.isValid())
                return usage("--colour wants six hex digits (RRGGBB)");
        } else if (args[i] == QLatin1String("--log") && hasValue) {
            logPath = args[++i];
        } else if (args[i] == QLatin1String("--screen-at") && hasValue) {
            const QStringList xy = args[++i].split(QLatin1Char(','));
            if (xy.size() != 2)
                return usage("--screen-at wants X,Y");
            screenAt = QPoint(xy[0].toInt(), xy[1].toInt());
        } else if (args[i] == QLatin1String("--cycle") && hasValue) {
            for (const QString& text : args[++i].split(QLatin1Char(','))) {
                cycle.append(parseColour(text));
                if (!cycle.back().isValid())
                    return usage("--cycle wants colours of six hex digits, comma-separated");
            }
        } else if (args[i] == QLatin1String("--hz") && hasValue) {
            hz = args[++i].toInt();
            if (hz < 1 || hz > 1000)
                return usage("--hz wants 1 to 1000");
        } else if (args[i] == QLatin1String("--cursor") && hasValue) {
            const auto shape = parseCursor(args[++i]);
            if (!shape)
                return usage("--cursor wants arrow or cross");
            cursor = *shape;
        } else {
            return usage(qPrintable(QStringLiteral("unknown argument ") + args[i]));
        }
    }
    if (!cycle.isEmpty())
        colour = cycle.front();
    FILE* out = stdout;
    if (!logPath.isEmpty()) {
        out = std::fopen(QFile::encodeName(logPath).constData(), "a");
        if (!out)
            return usage("cannot open the log file");
    }
    EventLog log(out);
    ProbeWindow window(colour, cursor, log);
    window.setWindowTitle(QStringLiteral("corvane probe window"));

    window.winId(); // creates the platform window, to be watched from its start
    window.windowHandle()->installEventFilter(&window);
    if (screenAt) {
        // Screens can arrive after start-up: wait briefly for the one asked.
        for (int i = 0; i < 50 && !QGuiApplication::screenAt(*screenAt); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        QScreen* screen = QGuiApplication::screenAt(*screenAt);
        if (!screen)
            return usage("no screen holds the point given to --screen-at");
        window.windowHandle()->setScreen(screen);
        window.setGeometry(screen->geometry());
    }
    window.showFullScreen();
    if (cycle.size() > 1 && hz > 0) {
        auto* timer = new QTimer(&window);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, [&window, &cycle, next = 0]() mutable {
            next = (next + 1) % int(cycle.size());
            window.setColour(cycle[next]);
        });
        timer->start(1000 / hz);
    }
    return app.exec();
}
