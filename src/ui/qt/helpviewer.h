#pragma once
#include <QDialog>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QTextBrowser;

namespace ui {

// The toolbox's own help: pages shipped inside the program, a contents list, a
// search over the pages' words, and a page on using the viewer itself.
class HelpViewer : public QDialog {
    Q_OBJECT
public:
    explicit HelpViewer(QWidget* parent = nullptr);

    void showContents();
    void showSearch();
    void showPage(const QString& file);

    // The pages (file names) holding every word of the query, in contents order.
    static QStringList search(const QString& query);
    static QStringList pages();
    static QString title(const QString& file);

private:
    void listPages(const QStringList& files);

    QLineEdit* m_query = nullptr;
    QListWidget* m_list = nullptr;
    QTextBrowser* m_page = nullptr;
};

} // namespace ui
