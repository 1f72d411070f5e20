#include "main_window.h"

#include "language.h"
#include "message_box.h"
#include "message_editor.h"
#include "proportional_splitter.h"
#include "recipient_tree_model.h"
#include "secondary_windows.h"
#include "templates.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QStyleFactory>
#include <QToolTip>
#include <QTreeView>

namespace plinket {

namespace {

// The unit box is only 45 pixels wide; the usual drop-down arrow area would leave too little room
// for "мин" / "hrs". This style narrows the arrow and the margins of that one box.
class NarrowComboStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        if (control == CC_ComboBox && option) {
            const QRect r = option->rect;
            constexpr int arrow = 13;
            if (sub == SC_ComboBoxArrow)
                return QRect(r.right() - arrow + 1, r.top(), arrow, r.height());
            if (sub == SC_ComboBoxEditField)
                return QRect(r.left() + 3, r.top() + 1, r.width() - arrow - 4, r.height() - 2);
        }
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }
};

// The recipient tree draws dotted lines between its items and boxed expand buttons; the rest of
// the tree keeps the application's look.
class BranchLineStyle final : public QProxyStyle {
public:
    BranchLineStyle() : m_lines(QStyleFactory::create(u"Windows"_qs)) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_IndicatorBranch && m_lines) {
            m_lines->drawPrimitive(element, option, painter, widget);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

private:
    std::unique_ptr<QStyle> m_lines;
};

// How long the note at the Send button stays up unless the pointer moves it away.
constexpr int SEND_NOTE_SHOWN_MS = 10000;

} // namespace

MainWindowTexts MainWindowTexts::inLanguage(QStringView code) {
    auto t = [code](TextId id) { return textIn(code, id); };
    return MainWindowTexts{
        t(TextId::errorTitle),
        t(TextId::sendShortcutTip),
        t(TextId::templateSyntaxTip),
        t(TextId::allClientsLabel),
        t(TextId::sendLabel),
        t(TextId::settingsLabel),
        t(TextId::changelogLabel),
        t(TextId::aboutLabel),
        t(TextId::donateLabel),
        t(TextId::copyLabel),
        t(TextId::cutLabel),
        t(TextId::pasteLabel),
        t(TextId::removeLabel),
        t(TextId::unitSeconds),
        t(TextId::unitMinutes),
        t(TextId::unitHours),
        t(TextId::broadcastLabel),
        t(TextId::saveTemplateLabel),
        t(TextId::errSaveTemplate),
        t(TextId::tickNotDeliveredLabel),
        t(TextId::tickUnconfirmedLabel),
    };
}

MainWindow::MainWindow(const MainWindowTexts& texts, const ConsoleIcons& icons, TemplateCatalog& templates,
                       QString templatesPath, BroadcastSetting& broadcast, qint32 waitCount, qint32 waitUnit,
                       QWidget* parent)
    : QWidget(parent), m_texts(texts), m_templates(templates), m_templatesPath(std::move(templatesPath)),
      m_broadcast(broadcast), m_waitCount(waitCount), m_waitUnit(waitUnit) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(MAIN_WINDOW_TITLE.toString());
    setMinimumSize(MAIN_CLIENT_SIZE);
    resize(MAIN_CLIENT_SIZE);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(), MAIN_CLIENT_SIZE);
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
    buildControls(icons);
    applyAnchoring();

    m_deliveryTimer.setObjectName(QStringLiteral("deliveryTimer"));
    connect(&m_deliveryTimer, &QTimer::timeout, this, &MainWindow::onDeliveryTimeout);
}

MainWindow::~MainWindow() {
    if (m_secondary)
        qApp->removeEventFilter(this);
}

void MainWindow::buildControls(const ConsoleIcons& icons) {
    m_editor = new MessageEditor(this);
    m_editor->setObjectName(QStringLiteral("messageEditor"));
    // The right button is handled by the window (eventFilter), not by the controls' own menus.
    m_editor->setContextMenuPolicy(Qt::NoContextMenu);
    for (QWidget* part : {m_editor->viewport(), static_cast<QWidget*>(m_editor->verticalScrollBar()),
                          static_cast<QWidget*>(m_editor->horizontalScrollBar())})
        watchRightButton(part);

    m_editorMenu = new QMenu(this);
    m_editorMenu->setObjectName(QStringLiteral("editorMenu"));
    m_editorMenu->addAction(icons.cutIcon, m_texts.cutLabel, m_editor, &QPlainTextEdit::cut);
    m_editorMenu->addAction(icons.copyIcon, m_texts.copyLabel, m_editor, &QPlainTextEdit::copy);
    m_editorMenu->addAction(icons.pasteIcon, m_texts.pasteLabel, m_editor, &QPlainTextEdit::paste);

    m_templateList = new QListWidget(this);
    m_templateList->setObjectName(QStringLiteral("templateList"));
    m_templateList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_templateList->setContextMenuPolicy(Qt::NoContextMenu);
    for (QWidget* part : {m_templateList->viewport(), static_cast<QWidget*>(m_templateList->verticalScrollBar()),
                          static_cast<QWidget*>(m_templateList->horizontalScrollBar())})
        watchRightButton(part);
    connect(m_templateList, &QListWidget::currentRowChanged, this, &MainWindow::showTemplateBody);
    connect(m_templateList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { showTemplateBody(m_templateList->row(item)); });

    m_editorSplitter = new ProportionalSplitter(Qt::Vertical, this);
    m_editorSplitter->setObjectName(QStringLiteral("editorSplitter"));
    m_editorSplitter->setGeometry(10, 10, 370, 130);
    m_editorSplitter->addPart(m_editor);
    m_editorSplitter->addPart(m_templateList);
    // The templates are read now, before the recipient tree exists.
    loadTemplateList();

    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("recipientTree"));
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setItemsExpandable(true);
    m_tree->setUniformRowHeights(true); // keeps 10,000 rows cheap to lay out
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setIconSize(QSize(10, 10));
    auto* lines = new BranchLineStyle();
    lines->setParent(m_tree);
    m_tree->setStyle(lines);
    // Long names widen the column and bring up a horizontal scroll bar instead of being cut.
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_recipientMenu = new QMenu(this);
    m_recipientMenu->setObjectName(QStringLiteral("recipientMenu"));
    m_tickNotDelivered = m_recipientMenu->addAction(m_texts.tickNotDeliveredLabel, this, [this] {
        if (m_model)
            m_model->checkOnly(notDeliveredInLastRound);
    });
    m_tickUnconfirmed = m_recipientMenu->addAction(m_texts.tickUnconfirmedLabel, this, [this] {
        if (m_model)
            m_model->checkOnly(unconfirmedInLastRound);
    });
    // The tree reports the position in its viewport.
    connect(m_tree, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { showRecipientMenu(m_tree->viewport()->mapToGlobal(pos)); });

    m_paneSplitter = new ProportionalSplitter(Qt::Horizontal, this);
    m_paneSplitter->setObjectName(QStringLiteral("paneSplitter"));
    m_paneSplitter->setGeometry(10, 10, 435, 130);
    m_paneSplitter->addPart(m_editorSplitter);
    m_paneSplitter->addPart(m_tree);

    m_timeoutPanel = new QWidget(this);
    m_timeoutPanel->setObjectName(QStringLiteral("timeoutPanel"));
    m_timeoutPanel->setGeometry(10, 150, 45, 40);
    m_timeoutSpin = new QSpinBox(m_timeoutPanel);
    m_timeoutSpin->setObjectName(QStringLiteral("timeoutSpin"));
    m_timeoutSpin->setGeometry(0, 0, 45, 20);
    m_timeoutSpin->setRange(0, 100);
    m_timeoutSpin->setValue(m_waitCount);
    m_unitCombo = new QComboBox(m_timeoutPanel);
    m_unitCombo->setObjectName(QStringLiteral("unitCombo"));
    m_unitCombo->setGeometry(0, 20, 45, 20);
    auto* narrow = new NarrowComboStyle(); // a style without a parent would need an owner
    narrow->setParent(m_unitCombo);
    m_unitCombo->setStyle(narrow);
    m_unitCombo->addItems({m_texts.unitSeconds, m_texts.unitMinutes, m_texts.unitHours});
    m_unitCombo->setCurrentIndex(m_waitUnit);
    // The fields follow the controls from now on; until the user changes them they keep the
    // stored values, even ones the controls cannot show.
    connect(m_timeoutSpin, &QSpinBox::valueChanged, this, [this](int value) { m_waitCount = value; });
    connect(m_unitCombo, &QComboBox::currentIndexChanged, this, [this](int index) { m_waitUnit = index; });

    m_sendButton = new QPushButton(m_texts.sendLabel, this);
    m_sendButton->setObjectName(QStringLiteral("sendButton"));
    m_sendButton->setGeometry(65, 150, 160, 40);
    m_sendButton->setToolTip(m_texts.sendShortcutTip);
    connect(m_sendButton, &QPushButton::clicked, this, &MainWindow::onSendClicked);
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &MainWindow::requestSend);
    }

    m_saveTemplateButton = new QPushButton(m_texts.saveTemplateLabel, this);
    m_saveTemplateButton->setObjectName(QStringLiteral("saveTemplateButton"));
    m_saveTemplateButton->setGeometry(235, 150, 160, 40);
    m_saveTemplateButton->setToolTip(m_texts.templateSyntaxTip);
    connect(m_saveTemplateButton, &QPushButton::clicked, this, &MainWindow::saveTemplateFromEditor);
    m_templateMenu = new QMenu(this);
    m_templateMenu->setObjectName(QStringLiteral("templateMenu"));
    m_templateMenu->addAction(icons.removeIcon, m_texts.removeLabel, this, &MainWindow::removeSelectedTemplate);

    m_menuButton = new QPushButton(this);
    m_menuButton->setObjectName(QStringLiteral("menuButton"));
    m_menuButton->setGeometry(405, 150, 40, 40);
    m_menuButton->setIcon(icons.menuButtonIcon);
    m_menuButton->setIconSize(QSize(28, 28));
    m_mainMenu = new QMenu(this);
    m_mainMenu->setObjectName(QStringLiteral("mainMenu"));
    m_mainMenu->addAction(m_texts.settingsLabel, this, &MainWindow::showSettingsWindow);
    m_mainMenu->addAction(m_texts.changelogLabel, this, &MainWindow::showChangelogWindow);
    m_mainMenu->addAction(m_texts.aboutLabel, this, &MainWindow::showAboutWindow);
    connect(m_menuButton, &QPushButton::clicked, this, [this] { m_mainMenu->popup(QCursor::pos()); });
}

void MainWindow::applyAnchoring() {
    const MainLayout l = anchoredLayout(size());
    m_paneSplitter->setGeometry(l.paneSplitter);
    m_timeoutPanel->setGeometry(l.timeoutPanel);
    m_sendButton->setGeometry(l.sendButton);
    m_saveTemplateButton->setGeometry(l.saveTemplateButton);
    m_menuButton->setGeometry(l.menuButton);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    applyAnchoring();
}

void MainWindow::applyGeometry(const WindowGeometry& geometry) {
    resize(QSize(geometry.width, geometry.height).expandedTo(MAIN_CLIENT_SIZE));
    if (geometry.posX != NO_POSITION && geometry.posY != NO_POSITION)
        move(geometry.posX, geometry.posY);
    // A hidden window gets its resize events only when shown, but the splitters need their final
    // lengths now: the anchoring places the pane splitter, and setting its position lays out the
    // editor splitter inside it. Each share is then read from the length the splitter will have.
    applyAnchoring();
    m_paneSplitter->setPosition(geometry.splitterVertc);
    m_editorSplitter->setPosition(geometry.splitterHoriz);
}

WindowGeometry MainWindow::currentGeometry() const {
    const QPoint frame = pos(); // a top-level widget's pos() is its frame's top-left
    return WindowGeometry{
        frame.x(), frame.y(), width(), height(), m_editorSplitter->position(), m_paneSplitter->position()};
}

void MainWindow::setRecipientModel(RecipientTreeModel* model) {
    m_model = model;
    m_tree->setModel(model);
    // A click on a check box makes its item the current one, as the space bar acts on that item.
    if (model) {
        connect(model, &RecipientTreeModel::recordToggled, m_tree,
                [this](int record) { m_tree->setCurrentIndex(m_model->indexOfRecord(record)); });
        connect(model, &QAbstractItemModel::dataChanged, this, [this] {
            // One refresh per pass of the event loop, however many ranges a burst of reports changed.
            if (QToolTip::isVisible() && !m_tooltipRefreshPending) {
                m_tooltipRefreshPending = true;
                QMetaObject::invokeMethod(this, &MainWindow::refreshTreeTooltip, Qt::QueuedConnection);
            }
        });
    }
    if (model && model->rowCount() > 0)
        m_tree->expand(model->index(0, 0));
}

void MainWindow::refreshTreeTooltip() {
    // A group's tooltip counts its clients by state: while one is up, it follows the reports.
    m_tooltipRefreshPending = false;
    QWidget* viewport = m_tree->viewport();
    const QPoint local = viewport->mapFromGlobal(QCursor::pos());
    if (!QToolTip::isVisible() || !viewport->rect().contains(local))
        return;
    QHelpEvent asked(QEvent::ToolTip, local, QCursor::pos());
    QCoreApplication::sendEvent(viewport, &asked);
}

void MainWindow::setDeliveryController(DeliveryController* controller) {
    m_controller = controller ? controller : &m_idleController;
}

QString MainWindow::messageText() const {
    return m_editor->messageText();
}

void MainWindow::requestSend() {
    if (m_secondary)
        return;
    // Like a click on the button: the focus moves there and the click is handled after the events
    // already queued.
    m_sendButton->setFocus(Qt::ShortcutFocusReason);
    QMetaObject::invokeMethod(m_sendButton, &QPushButton::click, Qt::QueuedConnection);
}

void MainWindow::onSendClicked() {
    if (m_secondary)
        return;
    m_sendButton->setToolTip(m_texts.sendShortcutTip);
    m_controller->onSend(messageText());
}

void MainWindow::showSendNote(const QString& note) {
    m_sendButton->setToolTip(note + u'\n' + m_texts.sendShortcutTip);
    QToolTip::showText(m_sendButton->mapToGlobal(m_sendButton->rect().center()), note, m_sendButton, {},
                       SEND_NOTE_SHOWN_MS);
}

void MainWindow::onDeliveryTimeout() {
    // While a secondary window is open the expiry is dropped; the timer repeats, so the waiting
    // period ends at the first expiry after that window is closed.
    if (m_secondary)
        return;
    m_controller->onDeliveryTimer();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_secondary) {
        m_secondary->close();
        event->ignore();
        return;
    }
    m_controller->onMainWindowClosing();
    event->accept();
    emit closeAccepted();
}

// ---- secondary windows ---------------------------------------------------------------------------

QWidget* MainWindow::openSecondary(QWidget* window) {
    m_secondary = window;
    // Input for the main window is dropped until the secondary window is gone.
    qApp->installEventFilter(this);
    connect(window, &QObject::destroyed, this, [this] { qApp->removeEventFilter(this); });
    static_cast<SecondaryWindow*>(window)->open();
    return window;
}

QWidget* MainWindow::showSettingsWindow() {
    if (m_secondary)
        return nullptr;
    return openSecondary(new SettingsWindow(this, m_texts.settingsLabel, m_texts.broadcastLabel, m_broadcast));
}

QWidget* MainWindow::showChangelogWindow() {
    if (m_secondary)
        return nullptr;
    return openSecondary(new ChangelogWindow(this, m_texts.changelogLabel));
}

QWidget* MainWindow::showAboutWindow() {
    if (m_secondary)
        return nullptr;
    return openSecondary(new AboutWindow(this, m_texts.aboutLabel, m_texts.donateLabel));
}

bool MainWindow::filterSecondaryInput(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        break;
    default:
        return false;
    }
    const QWidget* widget = qobject_cast<QWidget*>(watched);
    if (!widget) {
        // A shortcut of the main window (its parent is the window).
        widget = qobject_cast<QWidget*>(watched->parent());
        if (!widget || !qobject_cast<QShortcut*>(watched))
            return false;
    }
    return widget->window() == this;
}

// ---- right button ----------------------------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (m_secondary && filterSecondaryInput(watched, event))
        return true;
    if (m_rightButtonParts.contains(watched))
        return handleRightButton(watched, event);
    return QWidget::eventFilter(watched, event);
}

void MainWindow::watchRightButton(QWidget* part) {
    // The whole control counts, scroll bars included; their own context menus are off.
    part->setContextMenuPolicy(Qt::NoContextMenu);
    part->installEventFilter(this);
    m_rightButtonParts.append(part);
}

PointerArea MainWindow::areaAt(const QPoint& globalPos) const {
    auto inside = [&globalPos](const QWidget* w) {
        return w->isVisible() && QRect(w->mapToGlobal(QPoint(0, 0)), w->size()).contains(globalPos);
    };
    if (inside(m_editor))
        return PointerArea::Editor;
    if (inside(m_templateList))
        return PointerArea::TemplateList;
    return PointerArea::Elsewhere;
}

void MainWindow::selectTemplateAt(const QPoint& globalPos) {
    const QPoint local = m_templateList->viewport()->mapFromGlobal(globalPos);
    const QModelIndex index = m_templateList->indexAt(local);
    if (!index.isValid())
        return;
    // Selected without loading its body into the editor.
    m_selectingSilently = true;
    m_templateList->setCurrentRow(index.row());
    m_selectingSilently = false;
}

bool MainWindow::handleRightButton(QObject*, QEvent* event) {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease &&
        event->type() != QEvent::MouseButtonDblClick)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::RightButton)
        return false;
    const QPoint global = mouse->globalPosition().toPoint();
    if (event->type() != QEvent::MouseButtonRelease) {
        m_rightPressArea = areaAt(global);
        if (selectsTemplateOnPress(m_rightPressArea))
            selectTemplateAt(global);
        return true;
    }
    // The release arrives at the control that got the press, wherever the pointer is now.
    const PointerArea pressed = m_rightPressArea;
    const PointerArea released = areaAt(global);
    m_rightPressArea = PointerArea::Elsewhere;
    if (selectsTemplateOnRelease(pressed, released))
        selectTemplateAt(global);
    switch (rightClickAction(pressed, released)) {
    case RightClickAction::EditorMenu:
        m_editorMenu->popup(global);
        break;
    case RightClickAction::TemplateMenu:
        m_templateMenu->popup(global);
        break;
    case RightClickAction::None:
        break;
    }
    return true;
}

void MainWindow::showRecipientMenu(const QPoint& globalPos) {
    if (!m_model)
        return;
    m_tickNotDelivered->setEnabled(m_model->anyRecord(notDeliveredInLastRound));
    m_tickUnconfirmed->setEnabled(m_model->anyRecord(unconfirmedInLastRound));
    m_recipientMenu->popup(globalPos);
}

// ---- templates ---------------------------------------------------------------------------------------

int MainWindow::selectedTemplate() const {
    const QList<QListWidgetItem*> selected = m_templateList->selectedItems();
    return selected.isEmpty() ? -1 : m_templateList->row(selected.first());
}

void MainWindow::showTemplateBody(int row) {
    if (m_selectingSilently || row < 0 || row != selectedTemplate())
        return;
    m_editor->setMessageText(m_templates.at(row).body);
}

void MainWindow::loadTemplateList() {
    m_templates = loadTemplates(m_templatesPath);
    for (const TemplateRecord& t : m_templates.records())
        m_templateList->addItem(t.header);
}

void MainWindow::saveTemplateFromEditor() {
    const std::optional<TemplateDraft> draft = templateFromEditor(messageText(), selectedTemplate(), m_templates);
    if (!draft)
        return;
    const TemplateSaveResult result = saveTemplate(m_templatesPath, m_templates, draft->header, draft->body);
    if (result.status == TemplateSaveStatus::WriteFailed) {
        showMessageBox(BoxIcon::None, m_texts.errorTitle, m_texts.errSaveTemplate);
        return;
    }
    // The editor and the selection stay as they are.
    if (result.status == TemplateSaveStatus::Saved && result.appended)
        m_templateList->addItem(m_templates.at(result.index).header);
}

void MainWindow::removeSelectedTemplate() {
    const int row = selectedTemplate();
    const QString header = row >= 0 ? m_templateList->item(row)->text() : QString();
    if (!removeTemplate(m_templatesPath, m_templates, header, row) || row < 0)
        return;
    // Removing the current entry moves the current row; that must not load another body.
    m_selectingSilently = true;
    delete m_templateList->takeItem(row);
    m_templateList->clearSelection();
    m_selectingSilently = false;
}

// ---- shutdown ----------------------------------------------------------------------------------------

void storeWindowState(const MainWindow& window, const BroadcastSetting& broadcast, ServerSettings& settings) {
    const WindowGeometry geometry = window.currentGeometry();
    settings.windowPosX = geometry.posX;
    settings.windowPosY = geometry.posY;
    settings.windowWidth = geometry.width;
    settings.windowHeight = geometry.height;
    settings.splitterHoriz = geometry.splitterHoriz;
    settings.splitterVertc = geometry.splitterVertc;
    settings.waitCount = window.waitCount();
    settings.waitUnit = window.waitUnit();
    const BroadcastSnapshot now = broadcast.snapshot();
    settings.broadcastEnabled = now.enabled;
    settings.broadcastAddress = now.address;
}

} // namespace plinket
