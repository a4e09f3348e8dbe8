#pragma once

#include "validation/validator.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class Transaction;

namespace manager {

namespace screens {
Q_NAMESPACE

// The pages the scene holds, one per screen. The names are the pages' own: the log lines, the
// scene's page table and the screenshot files use them as they stand.
enum class Screen {
    InitPage,
    Busy,
    ScanCard,
    ScanBarcode,
    ScanScreens,
    Valid,
    Invalid,
    AlreadyValid,
    Retry,
    OutOfOrder,
    OutOfService,
    ScreenSaver,
    Settings,
    Login,
};
Q_ENUM_NS(Screen)

// The screen's name from the enumeration ("AlreadyValid").
QString name(Screen screen);
// The screen named so; false for a name that is none.
bool fromName(const QString &name, Screen *screen);

// The page a validation result shows: valid, validated already (the two "already" deny
// reasons), or refused.
Screen resultScreen(bool valid, int denyReasonId);

} // namespace screens

// Decides which page the scene shows and for how long, the message on the wait and fault pages,
// and when the display goes dark on a fault page. It owns the screen, the message, the screen
// timer and the display-off timer. What it decides from comes in through the setters below
// (the validation service's state and reason, ignition, the maintenance session, whether the
// device has its serial number, the display's power); what it asks of the services goes out as
// signals (readers on or off, display power, the result tone), so that the rules run without a
// broker or a scene.
class ScreenController : public QObject
{
    Q_OBJECT

public:
    using Screen = screens::Screen;
    using Status = Validator::Status;

    // Whether the ignition is on, asked whenever a rule needs it: an ignition change first ends
    // the maintenance session, and the idle screen that follows already reads the new state.
    using Ignition = std::function<bool()>;

    explicit ScreenController(Ignition ignition = [] { return true; }, QObject *parent = nullptr);

    Screen screen() const { return m_screen; }
    QString message() const { return m_message; }
    // The validator's reason code, and with "gui/showErrorDesc" its text on a second line.
    QString reasonMessage() const;

    // Inputs the rules read; recording one changes no screen.
    void setDeviceIdPresent(bool present) { m_deviceIdPresent = present; }
    void setSessionOpen(bool open) { m_sessionOpen = open; }
    void setDisplayPowered(bool powered) { m_displayPowered = powered; }
    // Minutes on a fault page before the display goes dark; 0 keeps it lit.
    void setDisplayOffMinutes(int minutes) { m_displayOffMinutes = minutes; }
    // Test seam: the display-off interval is minutes long in service.
    void setDisplayOffUnitMs(int unitMs) { m_displayOffUnitMs = unitMs; }

    // Events the rules answer.
    void setScreen(Screen screen);
    void setScreen(Screen screen, int timeoutMs);
    void setMessage(const QString &message);
    void setIdleScreen();
    void setOutOfOrderScreen(const QString &message);
    void setMaintenanceScreen();
    void setValidatorStatus(Status status);
    void setValidatorReason(const QString &code, const QString &text);
    void setShowErrorDesc(bool show);
    // The page for a validation result; nothing while a maintenance session is open.
    void showResult(const Transaction &transaction);
    void cardRetry();
    void loginSucceeded();
    // The ignition turned on (the idle screen) or off (the screen saver), once its other effects
    // have run: the page for it comes last and stays.
    void setIgnition(bool on);
    // Reboot, shutdown or exit under way: the wait page with the given text.
    void goingDown(const QString &message);

    bool screenTimerActive() const { return m_screenTimer.isActive(); }
    int screenTimerInterval() const { return m_screenTimer.interval(); }
    bool displayOffTimerActive() const { return m_displayOffTimer.isActive(); }
    int displayOffTimerInterval() const { return m_displayOffTimer.interval(); }

signals:
    void screenChanged();
    void messageChanged();
    // Both readers, the card reader first.
    void readersRequested(bool on);
    void displayPowerRequested(bool on);
    // The tone of a result page: the valid one, or the refusal.
    void toneRequested(bool valid);

private:
    void onScreenTimeout();
    void onScreenChanged();
    void onDisplayOffTimeout();

    Screen m_screen = Screen::Busy;
    QString m_message;
    QTimer m_screenTimer;
    QTimer m_displayOffTimer;
    Status m_status = Status::Unknown;
    QString m_reasonCode;
    QString m_reasonText;
    bool m_showErrorDesc = false;
    bool m_deviceIdPresent = false;
    bool m_sessionOpen = false;
    const Ignition m_ignition;
    bool m_displayPowered = false;
    int m_displayOffMinutes = 0;
    int m_displayOffUnitMs = 60 * 1000;
};

} // namespace manager
