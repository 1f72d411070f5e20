#pragma once

// The console's main window: message editor over the template list, the recipient tree beside
// them, and the bottom row (waiting period, Send, Save template, menu). There is no layout
// manager: the controls keep the positions of the 455x200 creation layout, the pane splitter grows
// with the window and the bottom row follows the bottom edge (layout_rules.h).
//
// Messaging plugs in through DeliveryController: the window calls onSend for the Send button and
// Ctrl+Enter, onDeliveryTimer when deliveryTimer() fires, and onMainWindowClosing before a normal
// close. While a Settings, Changelog or About window is open the main window takes no input, drops
// Send and timer expiries (the timer keeps repeating, so the next expiry after the secondary window
// is closed ends the waiting period) and answers its own close request by closing the secondary
// window.

#include "broadcast_setting.h"
#include "console_icons.h"
#include "delivery_controller.h"
#include "layout_rules.h"
#include "settings.h"

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class QAction;
class QComboBox;
class QListWidget;
class QMenu;
class QPushButton;
class QSpinBox;
class QTreeView;

namespace plinket {

class MessageEditor;
class ProportionalSplitter;
class RecipientTreeModel;
class TemplateCatalog;

// Every language-dependent text the window and its secondary windows show.
struct MainWindowTexts {
    QString errorTitle;
    QString sendShortcutTip;
    QString templateSyntaxTip;
    QString allClientsLabel;
    QString sendLabel;
    QString settingsLabel;
    QString changelogLabel;
    QString aboutLabel;
    QString donateLabel;
    QString copyLabel;
    QString cutLabel;
    QString pasteLabel;
    QString removeLabel;
    QString unitSeconds;
    QString unitMinutes;
    QString unitHours;
    QString broadcastLabel;
    QString saveTemplateLabel;
    QString errSaveTemplate;
    QString tickNotDeliveredLabel;
    QString tickUnconfirmedLabel;

    // The texts of one language ("RU" or "EN") from the language tables.
    static MainWindowTexts inLanguage(QStringView code);
};

// Where the window stands: frame position in screen pixels (NO_POSITION keeps the centred place),
// client size, and the two splitter positions.
struct WindowGeometry {
    qint32 posX = NO_POSITION;
    qint32 posY = NO_POSITION;
    qint32 width = 455;
    qint32 height = 200;
    qint32 splitterHoriz = 80;
    qint32 splitterVertc = 260;
};

class MainWindow final : public QWidget {
    Q_OBJECT

public:
    // Builds the window hidden, centred at 455x200, with every control, menu, shortcut and tooltip.
    // The (empty) `templates` catalog is loaded from `templatesPath` into the template list as soon
    // as the list exists, before the recipient tree is created. `broadcast` is what the Settings
    // window edits.
    MainWindow(const MainWindowTexts& texts, const ConsoleIcons& icons, TemplateCatalog& templates,
               QString templatesPath, BroadcastSetting& broadcast, qint32 waitCount, qint32 waitUnit,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // Moves and sizes the window to the saved geometry, then sets both splitter positions.
    void applyGeometry(const WindowGeometry& geometry);
    // What saveSettings stores: the frame's top-left, the client size, the splitter positions.
    WindowGeometry currentGeometry() const;

    // Shows the recipients (called once they are loaded); the root is expanded, groups collapsed.
    void setRecipientModel(RecipientTreeModel* model);
    RecipientTreeModel* recipientModel() const { return m_model; }

    // The messaging code's entry points; the window never owns the controller.
    void setDeliveryController(DeliveryController* controller);
    QTimer& deliveryTimer() { return m_deliveryTimer; }

    // Tells the administrator at the Send button what the last Send did: a tooltip shown at once,
    // kept as the first line of the button's tooltip until the next Send.
    void showSendNote(const QString& note);

    qint32 waitCount() const { return m_waitCount; }
    qint32 waitUnit() const { return m_waitUnit; }
    // The editor's text with CR LF line breaks.
    QString messageText() const;

    // The open Settings, Changelog or About window, if any.
    QWidget* secondaryWindow() const { return m_secondary.data(); }
    QWidget* showSettingsWindow();
    QWidget* showChangelogWindow();
    QWidget* showAboutWindow();

    // The pop-up menus, for the right-click handling and for tests.
    QMenu* editorMenu() const { return m_editorMenu; }
    QMenu* templateMenu() const { return m_templateMenu; }
    QMenu* mainMenu() const { return m_mainMenu; }
    // Right-click in the recipient tree: tick only the clients the last round did not reach, or did
    // not reach and those that did not confirm, to send to them again. An item is enabled only when
    // some client qualifies.
    QMenu* recipientMenu() const { return m_recipientMenu; }

    // The "Save template" action and "Remove" of the template menu.
    void saveTemplateFromEditor();
    void removeSelectedTemplate();
    // Index of the selected template, -1 when none is selected.
    int selectedTemplate() const;

signals:
    // The window accepted a normal close (after onMainWindowClosing): time to save and end.
    void closeAccepted();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls(const ConsoleIcons& icons);
    void applyAnchoring();
    void loadTemplateList();
    void showTemplateBody(int row);
    void requestSend();
    void onSendClicked();
    void onDeliveryTimeout();
    void refreshTreeTooltip();
    QWidget* openSecondary(QWidget* window);
    bool filterSecondaryInput(QObject* watched, QEvent* event);
    bool handleRightButton(QObject* watched, QEvent* event);
    void watchRightButton(QWidget* part);
    PointerArea areaAt(const QPoint& globalPos) const;
    void selectTemplateAt(const QPoint& globalPos);
    void showRecipientMenu(const QPoint& globalPos);

    MainWindowTexts m_texts;
    TemplateCatalog& m_templates;
    QString m_templatesPath;
    BroadcastSetting& m_broadcast;
    qint32 m_waitCount;
    qint32 m_waitUnit;

    MessageEditor* m_editor = nullptr;
    QListWidget* m_templateList = nullptr;
    ProportionalSplitter* m_editorSplitter = nullptr;
    QTreeView* m_tree = nullptr;
    ProportionalSplitter* m_paneSplitter = nullptr;
    QWidget* m_timeoutPanel = nullptr;
    QSpinBox* m_timeoutSpin = nullptr;
    QComboBox* m_unitCombo = nullptr;
    QPushButton* m_sendButton = nullptr;
    QPushButton* m_saveTemplateButton = nullptr;
    QPushButton* m_menuButton = nullptr;
    QMenu* m_editorMenu = nullptr;
    QMenu* m_templateMenu = nullptr;
    QMenu* m_mainMenu = nullptr;
    QMenu* m_recipientMenu = nullptr;
    QAction* m_tickNotDelivered = nullptr;
    QAction* m_tickUnconfirmed = nullptr;

    RecipientTreeModel* m_model = nullptr;
    IdleDeliveryController m_idleController;
    DeliveryController* m_controller = &m_idleController;
    QTimer m_deliveryTimer;
    QPointer<QWidget> m_secondary;

    // The parts of the editor and the template list whose right button the window handles.
    QList<QObject*> m_rightButtonParts;
    // Right-click in progress: where the button went down (Elsewhere when no press is tracked).
    PointerArea m_rightPressArea = PointerArea::Elsewhere;
    // Set while the program selects a template, so the selection does not load its body.
    bool m_selectingSilently = false;
    // A refresh of the recipient tree's tooltip on screen is queued.
    bool m_tooltipRefreshPending = false;
};

// What a normal close stores in the settings from the window: the frame's position, the client
// size, both splitter positions, the waiting period and the broadcast mode and address.
void storeWindowState(const MainWindow& window, const BroadcastSetting& broadcast, ServerSettings& settings);

} // namespace plinket
