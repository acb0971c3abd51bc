#pragma once

#include "AppVerifier.h"
#include "ControllerTypes.h"
#include "Health.h"
#include "SessionHooksStatus.h"
#include "StartProgress.h"
#include "StrellStatus.h"

#include "BackgroundService.h"
#include "DesktopRegistration.h"
#include "Platform.h"
#include "SystemTools.h"
#include "UpdateDownload.h"
#include "UpdateFiles.h"
#include "UpdateState.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

struct ControllerTestAccess;
struct DiagnosticCheck;

// The observable fields, each named once: X(type, name, Name) stands for the getter `name()`, the store
// function `storeName(type)` and the member `name_`. The controller declares its store functions from this
// list and the tests check that each of them announces, so a new observable field is one more line here.
#define CONNECTOR_OBSERVABLE_FIELDS(X)                                                                       \
    X(Background, background, Background)                                                                    \
    X(BackgroundService::Status, statusItemAtLogin, StatusItemAtLogin)                                       \
    X(std::optional<BridgeStatus>, bridge, Bridge)                                                           \
    X(QList<Engine>, engines, Engines)                                                                       \
    X(qsizetype, enginesNotListed, EnginesNotListed)                                                         \
    X(QList<CliTool>, cliTools, CliTools)                                                                    \
    X(bool, cliBusy, CliBusy)                                                                                \
    X(std::optional<QString>, cliMessage, CliMessage)                                                        \
    X(bool, cliAvailable, CliAvailable)                                                                      \
    X(std::optional<CliActivity>, cliActivity, CliActivity)                                                  \
    X(std::optional<CliResult>, cliResult, CliResult)                                                        \
    X(QList<Pairing>, pairings, Pairings)                                                                    \
    X(std::optional<QString>, notice, Notice)                                                                \
    X(bool, uninstalling, Uninstalling)                                                                      \
    X(UpdateState, update, Update)                                                                           \
    X(bool, waitsToInstall, WaitsToInstall)                                                                  \
    X(std::optional<QDateTime>, lastRefresh, LastRefresh)                                                    \
    X(std::optional<StrellStatus>, strell, Strell)                                                           \
    X(bool, strellBusy, StrellBusy)                                                                          \
    X(std::optional<QString>, strellMessage, StrellMessage)                                                  \
    X(bool, strellError, StrellError)                                                                        \
    X(std::optional<SessionHooksStatus>, sessionHooks, SessionHooks)                                         \
    X(bool, sessionHooksBusy, SessionHooksBusy)                                                              \
    X(std::optional<QString>, sessionHooksMessage, SessionHooksMessage)

// The application's one observable model: everything the status menu and the window show, and every
// operation they start. Main thread only. Each observable field has a getter and a private store function
// that announces changed() on every assignment, also when the value is equal (the status item redraws per
// assignment). Plain fields are public members. Derived values (health and its texts) are computed on read.
//
// One source file per concern: ConnectorController.cpp (state and refresh), Health.cpp, BackgroundItems.cpp,
// ExecutorTools.cpp, Updates.cpp, and later ones for pairing, uninstall, session hooks, gateway routing and
// the legacy rename.
class ConnectorController : public QObject {
    Q_OBJECT

public:
    explicit ConnectorController(Platform platform, QObject* parent = nullptr);
    ~ConnectorController() override;

    // Observable fields, in declaration order.
    const Background& background() const { return background_; }
    BackgroundService::Status statusItemAtLogin() const { return statusItemAtLogin_; }
    const std::optional<BridgeStatus>& bridge() const { return bridge_; }
    const QList<Engine>& engines() const { return engines_; }
    // Engines of the last status beyond ReplyCaps::listedEngines, counted but not kept.
    qsizetype enginesNotListed() const { return enginesNotListed_; }
    const QList<CliTool>& cliTools() const { return cliTools_; }
    bool cliBusy() const { return cliBusy_; }
    const std::optional<QString>& cliMessage() const { return cliMessage_; }
    bool cliAvailable() const { return cliAvailable_; }
    const std::optional<CliActivity>& cliActivity() const { return cliActivity_; }
    const std::optional<CliResult>& cliResult() const { return cliResult_; }
    const QList<Pairing>& pairings() const { return pairings_; }
    const std::optional<QString>& notice() const { return notice_; }
    bool uninstalling() const { return uninstalling_; }
    const UpdateState& update() const { return update_; }
    bool waitsToInstall() const { return waitsToInstall_; }
    const std::optional<QDateTime>& lastRefresh() const { return lastRefresh_; }
    const std::optional<StrellStatus>& strell() const { return strell_; }
    bool strellBusy() const { return strellBusy_; }
    const std::optional<QString>& strellMessage() const { return strellMessage_; }
    bool strellError() const { return strellError_; }
    const std::optional<SessionHooksStatus>& sessionHooks() const { return sessionHooks_; }
    bool sessionHooksBusy() const { return sessionHooksBusy_; }
    const std::optional<QString>& sessionHooksMessage() const { return sessionHooksMessage_; }

    // Plain fields (not observable).
    bool cliRequestInFlight = false; // an executor-tool command was sent and not yet answered
    bool checkedCliOnLaunch = false; // the one-time tool check after launch has been started
    const bool updatedThisLaunch;    // this process was started with "--after-update"
    bool holdsAutoInstall = false;   // the status menu is open: no installation under it
    bool triedLegacyRename = false;
    bool renamingBundle = false;
    BackgroundService& service;           // the bridge's background item
    BackgroundService& statusItemService; // the status-bar login item
    const std::shared_ptr<Workspace> workspace;
    const AppVerifier verifier;
    const QString bundlePath;                                          // the running application's bundle
    QString serviceManagerTool = SystemTools::serviceManagerTool();    // starts the agent (tests: a stand-in)
    std::chrono::milliseconds cliPollLimit{std::chrono::seconds(360)}; // following accepted tool work
    double bridgeWaitSeconds = 20; // how long a pairing link waits for the bridge (tests shorten both)

    // True exactly while the bridge's last status is known.
    bool running() const { return bridge_.has_value(); }

    // One full reading of the bridge's state: "status", then "pairings". Never fails; does nothing while an
    // uninstall runs. Refreshes may overlap; the last one to write a field wins.
    QCoro::Task<void> refresh();

    static QString engineTitle(const QString& id) { return ::engineTitle(id); }

    // The bridge's ISO 8601 date texts, with or without fractional seconds.
    static std::optional<QDateTime> date(const QString& text);

    // A point in time for display: abbreviated date and short time, local time, the user's locale.
    static QString displayTime(const QDateTime& time);

    // Health and summaries.
    Health health() const;
    QString healthTitle() const { return health().title(); }
    QString version() const; // "1.4.0（27）" from the Info dictionary
    static QString version(const nlohmann::json& info);

    // The self-update's inputs.
    static std::optional<QUrl> updateFeed(); // from the override and the main bundle's Info dictionary
    static std::optional<QUrl> updateFeed(const nlohmann::json& info);
    qint64 currentBuild() const;
    QString updateWaitLine() const;

    // Operations that refresh() calls, each defined in the source file of its own concern. Virtual so that
    // the points at which the refresh calls them can be observed on their own. ensureBackgroundItem() asks
    // the service manager on a worker; callers await it.
    virtual QCoro::Task<void> ensureBackgroundItem();

    // Background items and the bridge start (BackgroundItems.cpp).
    QCoro::Task<void> announce(bool onlyRunning);
    QCoro::Task<void> reregisterBackgroundItem();
    void setStatusItemAtLogin(bool on);
    void openLoginItemsSettings();
    void startBridge();
    void revealLog();
    virtual QCoro::Task<void> cliAction(QString command, std::optional<QString> engine = std::nullopt,
                                        bool userInitiated = true);
    virtual void installUpdateIfIdle();
    virtual void renameLegacyBundleIfIdle();

    // Called by the application shell: at launch (the update schedule, outside isolated validation; the end
    // of a legacy rename, with --after-rename) and for every link addressed to the connector. Never fail.
    void startUpdateChecks();
    void finishLegacyRename(bool restartBridge);

    // Executor tools (ExecutorTools.cpp): the result line of a finished command, from the tools and the
    // bridge's closing message as the refresh after the work left them.
    static QString cliSummary(const QString& command, const QList<CliTool>& tools,
                              const std::optional<QString>& message);

    // Pairing (Pairing.cpp). handle() answers a pairing link given as its original text (a parsed QUrl has
    // already lower-cased scheme and host, which the check must see as sent); it never throws.
    // disconnect() starts revoking a pairing and returns at once. openSenvik() brings a companion app to the
    // front or starts one.
    QCoro::Task<void> handle(QString link);
    using QObject::disconnect;
    void disconnect(const Pairing& pairing);
    QCoro::Task<void> openSenvik();

    // Session hooks and gateway routing (SessionHooks.cpp, StrellAction.cpp). Each keeps one action of its
    // kind at a time through its busy flag and refreshes before clearing it, so the cards re-enable on the
    // bridge's new report. strellAction() returns whether the bridge took the command.
    QCoro::Task<void> setSessionHooks(bool on);
    QCoro::Task<bool> strellAction(QString command, StrellDraft draft, qint64 revision);

    // Start page progress (StartProgress.cpp). Cheap to read: whether a companion app is installed is looked
    // up on a worker at most every few seconds, and a new answer is announced through changed().
    StartProgress startProgress() const;

    // Diagnostics (src/diagnostics/ControllerDiagnostics.cpp). diagnostics() reads the application folders
    // and the log's attributes where it is called; copyDiagnosticReport() reads them on a worker and then
    // replaces the clipboard's contents with the report as plain text.
    QList<DiagnosticCheck> diagnostics() const;
    static QString duration(const QDateTime& since);
    QString diagnosticReport() const;
    QCoro::Task<void> copyDiagnosticReport();

    // Uninstall (Uninstall.cpp). Never fails: the outcome shows in notice, background and uninstalling, or
    // the application ends through terminateApplication (empty: QCoreApplication::quit). The wait for the
    // bridge to stop checks 40 times, bridgeStopStep apart (tests shorten the step).
    QCoro::Task<void> uninstall(bool deletingData);
    std::chrono::milliseconds bridgeStopStep{500};
    std::function<void()> terminateApplication;

    // Legacy rename and desktop registration (LegacyRename.cpp). The registration is the desktop's record of
    // where the connector lives (links, application menu); the launch and a rename write it, the uninstall
    // removes it. startedAt() and waitForRestart() read the bridge's "startedAt"; the waits after the bridge
    // restarts, the plain start and the start after re-registration are fields so tests can shorten them.
    std::shared_ptr<DesktopRegistration> desktopRegistration = systemDesktopRegistration();
    std::array<double, 3> restartWaitSeconds{30, 30, 60};
    QCoro::Task<void> registerWithDesktop();   // outside isolated validation; never fails
    QCoro::Task<void> unregisterFromDesktop(); // for the uninstall; never fails
    static QCoro::Task<std::optional<QString>> startedAt();
    static QCoro::Task<bool> waitForRestart(std::optional<QString> before, double seconds);

    // Self-update (UpdateCheck.cpp, UpdateStaging.cpp, UpdateInstall.cpp).
    QCoro::Task<void> checkForUpdates(bool userInitiated);
    static QCoro::Task<QString> fetch(UpdateInfo info, QUrl from, UpdateDownload::Progress progress);
    static QString sha256(const QString& path); // blocking: call it on a worker
    static bool systemAtLeast(const QString& version);
    static QCoro::Task<QString> stage(UpdateInfo info, QString dmg, QString replacing,
                                      UpdateFiles::Tools tools, AppVerifier verifier);
    static QCoro::Task<void> verifyConnector(QString app, qint64 build, UpdateFiles::Tools tools,
                                             AppVerifier verifier);
    void requestInstall();
    void installNow();
    void cancelInstallWait();
    void installUpdate(UpdateInfo info, QString staged);
    void installFailed(const QString& text); // the installation task's end when the swap or relaunch fails
    UpdateFiles::Tools updateTools = UpdateFiles::Tools::forBundle(bundlePath); // tests: the built helpers
    std::function<void()> quitAfterUpdate; // default: QCoreApplication::quit
    // The schedule's waits (20 s, then 6 h after each check) go through this when set: tests see them.
    std::function<QCoro::Task<void>(std::chrono::milliseconds)> updateScheduleSleep;

    // Hardening (BackgroundItems.cpp): the login-item switch's work, awaitable; setStatusItemAtLogin() starts
    // it and returns at once.
    QCoro::Task<void> switchStatusItemAtLogin(bool on);

signals:
    // Any observable field was assigned; observers read the new values.
    void changed();

private:
    friend struct ControllerTestAccess;

    // One store function per observable field; storeUpdate also withdraws waitsToInstall when anything but
    // ready is stored.
#define CONNECTOR_DECLARE_STORE(Type, name, Name) void store##Name(Type value);
    CONNECTOR_OBSERVABLE_FIELDS(CONNECTOR_DECLARE_STORE)
#undef CONNECTOR_DECLARE_STORE

    template <typename T> void assign(T& field, T value) {
        field = std::move(value);
        emit changed();
    }

    // The steps of refresh() that turn replies into fields.
    void resetUnreachable();
    // The "cliTools" member as read, before it meets the controller's state.
    struct CliFields {
        bool present = false;
        bool busy = false;
        std::optional<QString> operation;
        std::optional<QString> message;
        QList<CliTool> tools;
    };
    // A status result as values: read on a worker, where the reply's tree is also freed, so the main thread
    // only stores a bounded result whatever the bridge sent.
    struct ParsedStatus {
        BridgeStatus bridge;
        QList<Engine> engines;
        qsizetype enginesNotListed = 0;
        std::optional<StrellStatus> strell;
        std::optional<SessionHooksStatus> sessionHooks;
        CliFields cli;
    };
    static ParsedStatus parseStatus(const nlohmann::json& status);
    static CliFields parseCliFields(const nlohmann::json* tools);
    void storeStatus(const ParsedStatus& status);
    void storeCliFields(const CliFields& tools);
    static BridgeStatus bridgeStatus(const nlohmann::json& status);
    // At most ReplyCaps::listedEngines; `notListed` counts the rest.
    static QList<Engine> parseEngines(const nlohmann::json* engines, qsizetype* notListed = nullptr);
    static QList<Pairing> parsePairings(const nlohmann::json& result);

    // Delivers `link` to the application at `app` (Pairing.cpp); fails with the workspace's error.
    QCoro::Task<void> open(QUrl link, QString app, bool activate);
    QCoro::Task<void> revoke(QString id);

    const nlohmann::json& info_;
    // The same items as service and statusItemService, for workers to hold (they may outlive this object).
    const std::shared_ptr<BackgroundService> sharedService_;
    const std::shared_ptr<BackgroundService> sharedStatusItemService_;

    Background background_ = Background::Checking{};
    BackgroundService::Status statusItemAtLogin_ = BackgroundService::Status::notRegistered;
    std::optional<BridgeStatus> bridge_;
    QList<Engine> engines_;
    qsizetype enginesNotListed_ = 0;
    QList<CliTool> cliTools_;
    bool cliBusy_ = false;
    std::optional<QString> cliMessage_;
    bool cliAvailable_ = false;
    std::optional<CliActivity> cliActivity_;
    std::optional<CliResult> cliResult_;
    QList<Pairing> pairings_;
    std::optional<QString> notice_;
    bool uninstalling_ = false;
    UpdateState update_ = UpdateState::Idle{};
    bool waitsToInstall_ = false;
    std::optional<QDateTime> lastRefresh_;
    std::optional<StrellStatus> strell_;
    bool strellBusy_ = false;
    std::optional<QString> strellMessage_;
    bool strellError_ = false;
    std::optional<SessionHooksStatus> sessionHooks_;
    bool sessionHooksBusy_ = false;
    std::optional<QString> sessionHooksMessage_;

    // Start page progress (StartProgress.cpp).
    void lookUpSenvikApp() const;
    mutable bool senvikAppInstalled_ = false;
    mutable std::optional<std::chrono::steady_clock::time_point> senvikAppLookup_; // last lookup started

    // Legacy rename (LegacyRename.cpp).
    QCoro::Task<void> renameBundle(QString from, QString to);
    QCoro::Task<void> restartBridgeAfterRename();

    // Hardening (Pairing.cpp): the pairing answer itself; handle() wraps it so that nothing escapes.
    QCoro::Task<void> answerPairing(QString link);
};
