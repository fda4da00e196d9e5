// "Sessions": every client of the server with its login, its mode and its
// latest figures, a plot of the last two minutes of one client's frames/s
// and kbit/s (the selected one, else the first), and what the person at the desktop can do about
// one: end its session, or switch it between watching and control. It shows the control channel's
// model and sends requests through `SessionsActions`; the server's events, not the click, change
// what it shows.
#pragma once
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/control_client.h"

class QChartView;
class QLabel;
class QLineSeries;
class QPushButton;
class QTableWidget;
class QValueAxis;

namespace corvane::app::ui {

struct SessionsActions {
    // Each false when the request could not be sent (no channel).
    std::function<bool(uint64_t id, bool viewOnly)> setMode;
    std::function<bool(uint64_t id)> disconnect;
};

class SessionsWindow : public QWidget {
  public:
    enum Column {
        account,
        address,
        login,
        since,
        mode,
        codec,
        desktop,
        fps,
        kbps,
        roundTrip,
        columns
    };

    explicit SessionsWindow(SessionsActions actions);

    // The rows anew; the selected client stays selected while it is there.
    void update(const std::vector<ControlSession>& sessions);
    // The server's refusal of a request, shown under the list.
    void showError(const std::string& message);

    std::optional<uint64_t> selected() const;

    QTableWidget* table;
    QChartView* plot;
    QLineSeries *fpsSeries, *kbpsSeries; // x: seconds before the latest figures
    QPushButton* disconnectButton;
    QPushButton* modeButton;
    QLabel* note;

  private:
    void selectionChanged();
    void replot();
    void toggleMode();
    void disconnectSelected();

    SessionsActions actions_;
    QValueAxis *fpsAxis_, *kbpsAxis_;
    std::vector<ControlSession> sessions_;
};

} // namespace corvane::app::ui
