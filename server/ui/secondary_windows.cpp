#include "secondary_windows.h"

#include "ipv4_address_edit.h"
#include "language.h"
#include "layout_rules.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>

namespace plinket {

namespace {

QString readDocument(const QString& resourcePath) {
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QTextBrowser* documentView(QWidget* parent, const QString& name, const QRect& geometry, const QString& html) {
    auto* view = new QTextBrowser(parent);
    view->setObjectName(name);
    view->setGeometry(geometry);
    view->setOpenLinks(false);
    view->setHtml(html);
    return view;
}

} // namespace

QString changelogDocument() {
    return readDocument(QStringLiteral(":/documents/changelog_ru.html"));
}
QString aboutDocument() {
    return readDocument(QStringLiteral(":/documents/about_ru.html"));
}

SecondaryWindow::SecondaryWindow(QWidget* owner, const QString& title, QSize clientSize, bool alwaysOnTop)
    : QWidget(owner, Qt::Window) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint;
    if (alwaysOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(clientSize);
}

void SecondaryWindow::open() {
    // Centred on the screen of the owner (the primary screen when there is none).
    QScreen* screen = parentWidget() ? parentWidget()->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect r(QPoint(), size());
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
    show();
    raise();
    activateWindow();
}

SettingsWindow::SettingsWindow(QWidget* owner, const QString& title, const QString& broadcastLabel,
                               BroadcastSetting& setting)
    : SecondaryWindow(owner, title, QSize(210, 70), false), m_setting(setting) {
    setObjectName(QStringLiteral("settingsWindow"));
    const BroadcastSnapshot now = m_setting.snapshot();

    m_checkBox = new QCheckBox(broadcastLabel, this);
    m_checkBox->setObjectName(QStringLiteral("broadcastCheckBox"));
    m_checkBox->setGeometry(10, 10, 200, 20);
    m_checkBox->setChecked(now.enabled == 1);

    m_addressField = new Ipv4AddressEdit(this);
    m_addressField->setObjectName(QStringLiteral("broadcastAddressField"));
    m_addressField->setGeometry(10, 40, 100, 20);
    // The stored text is shown as far as it converts; it is rewritten only when edited.
    m_addressField->setAddress(parseDottedQuad(now.address));
    m_addressField->setEnabled(now.enabled == 1);

    connect(m_checkBox, &QCheckBox::toggled, this, [this](bool on) {
        m_setting.setEnabled(on ? 1 : 0);
        updateEnabled();
    });
    connect(m_addressField, &Ipv4AddressEdit::addressEdited, this,
            [this] { m_setting.setAddress(formatDottedQuad(m_addressField->address())); });
}

void SettingsWindow::updateEnabled() {
    m_addressField->setEnabled(m_setting.snapshot().enabled == 1);
}

ChangelogWindow::ChangelogWindow(QWidget* owner, const QString& title)
    : SecondaryWindow(owner, title, QSize(700, 300), true) {
    setObjectName(QStringLiteral("changelogWindow"));
    documentView(this, QStringLiteral("changelogView"), QRect(10, 10, 680, 280), changelogDocument());
}

AboutWindow::AboutWindow(QWidget* owner, const QString& title, const QString& donateLabel)
    : SecondaryWindow(owner, title, QSize(250, 365), true) {
    setObjectName(QStringLiteral("aboutWindow"));
    documentView(this, QStringLiteral("aboutView"), QRect(10, 10, 230, 285), aboutDocument());

    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("linkFrame"));
    frame->setGeometry(10, 295, 230, 30);

    // The link label is a child of the window, not of the frame, so that its position is the
    // window's (65, 305) like every other control here.
    auto* link = new QLabel(this);
    link->setObjectName(QStringLiteral("forumLink"));
    link->setGeometry(65, 305, 120, 15);
    link->setTextFormat(Qt::RichText);
    link->setText(QStringLiteral("<a href=\"%1\" style=\"color:#0000ff; text-decoration:underline\">%2</a>")
                      .arg(FORUM_URL.toString(),
                           QString(FORUM_CAPTION_PREFIX.toString() + QString::fromUtf16(FORUM_NAME)).toHtmlEscaped()));
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setCursor(Qt::PointingHandCursor);
    link->setAlignment(Qt::AlignCenter);
    QPalette blue = link->palette();
    blue.setColor(QPalette::Link, QColor(0, 0, 255));
    blue.setColor(QPalette::LinkVisited, QColor(0, 0, 255));
    link->setPalette(blue);
    connect(link, &QLabel::linkActivated, this, [] { QDesktopServices::openUrl(FORUM_URL); });

    auto* donate = new QPushButton(donateLabel, this);
    donate->setObjectName(QStringLiteral("donateButton"));
    donate->setGeometry(10, 330, 230, 25);
    connect(donate, &QPushButton::clicked, this, [] { QDesktopServices::openUrl(DONATE_URL); });
}

} // namespace plinket
