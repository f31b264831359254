#include "ui/qt/helpviewer.h"

#include "ui/qt/programfiles.h"

#include "buildversion.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QSplitter>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

// Resources of a static library are registered by hand: nothing else pulls the
// generated object into the program.
static void registerHelpPages() {
    Q_INIT_RESOURCE(help);
}

namespace ui {
namespace {

// The pages installed beside the program, where they are, else those inside it.
QString root() {
    static const QString found = [] {
        const QString dir =
            programfiles::directoryWith(QStringLiteral("help"), QStringLiteral("contents.html"));
        return dir.isEmpty() ? QStringLiteral(":/help/") : dir + QLatin1Char('/');
    }();
    return found;
}

QString readPage(const QString& file) {
    QFile f(root() + file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

} // namespace

QStringList HelpViewer::pages() {
    registerHelpPages();
    // The contents page, then every page it links to in its order, as a reader
    // would go through them: a new page is listed once the contents name it.
    static const QRegularExpression link(QStringLiteral("href=\"([A-Za-z0-9_-]+\\.html)\""));
    QStringList out{QStringLiteral("contents.html")};
    for (auto it = link.globalMatch(readPage(out.front())); it.hasNext();)
        if (const QString file = it.next().captured(1); !out.contains(file)) out << file;
    return out;
}

QString HelpViewer::title(const QString& file) {
    static const QRegularExpression titleTag(QStringLiteral("<title>(.*)</title>"));
    const QRegularExpressionMatch m = titleTag.match(readPage(file));
    return m.hasMatch() ? m.captured(1).trimmed() : file;
}

QStringList HelpViewer::search(const QString& query) {
    const QStringList words =
        query.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    QStringList found;
    for (const QString& file : pages()) {
        QTextDocument doc;
        doc.setHtml(readPage(file));
        const QString text = doc.toPlainText();
        bool all = true;
        for (const QString& w : words)
            if (!text.contains(w, Qt::CaseInsensitive)) all = false;
        if (all) found << file;
    }
    return found;
}

HelpViewer::HelpViewer(QWidget* parent) : QDialog(parent) {
    registerHelpPages();
    setWindowTitle(
        tr("WS toolbox help - version %1").arg(QStringLiteral(WS_VERSION " (" WS_COMMIT ")")));
    setModal(false);
    m_query = new QLineEdit(this);
    m_query->setPlaceholderText(tr("Words to find"));
    m_query->setClearButtonEnabled(true);
    auto* find = new QPushButton(tr("&Find"), this);
    m_list = new QListWidget(this);
    m_page = new QTextBrowser(this);
    m_page->setSearchPaths({root()});
    m_page->setOpenExternalLinks(false);

    auto* left = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(m_query, 1);
    searchRow->addWidget(find);
    leftLayout->addWidget(new QLabel(tr("&Search:"), left));
    qobject_cast<QLabel*>(leftLayout->itemAt(0)->widget())->setBuddy(m_query);
    leftLayout->addLayout(searchRow);
    leftLayout->addWidget(m_list, 1);

    auto* splitter = new QSplitter(this);
    splitter->addWidget(left);
    splitter->addWidget(m_page);
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
    resize(760, 520);
    // Escape closes the help wherever its focus is, the search field and the page included.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QDialog::close);

    auto runSearch = [this] {
        const QString q = m_query->text().trimmed();
        listPages(q.isEmpty() ? pages() : search(q));
    };
    connect(find, &QPushButton::clicked, this, runSearch);
    connect(m_query, &QLineEdit::returnPressed, this, runSearch);
    connect(m_list, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item) m_page->setSource(QUrl(item->data(Qt::UserRole).toString()));
    });
    listPages(pages());
}

void HelpViewer::listPages(const QStringList& files) {
    m_list->clear();
    for (const QString& file : files) {
        auto* item = new QListWidgetItem(title(file), m_list);
        item->setData(Qt::UserRole, file);
    }
    if (files.isEmpty()) new QListWidgetItem(tr("(no page has all these words)"), m_list);
}

void HelpViewer::showContents() {
    m_query->clear();
    listPages(pages());
    showPage(pages().front());
}

void HelpViewer::showSearch() {
    show();
    raise();
    activateWindow();
    m_query->setFocus();
    m_query->selectAll();
}

void HelpViewer::showPage(const QString& file) {
    m_page->setSource(QUrl(file));
    for (int i = 0; i < m_list->count(); ++i)
        if (m_list->item(i)->data(Qt::UserRole).toString() == file) {
            m_list->blockSignals(true);
            m_list->setCurrentRow(i);
            m_list->blockSignals(false);
        }
    show();
    raise();
    activateWindow();
}

} // namespace ui
