// The real tools' windows as a person meets them: Enter, list positions, error rows.
#include "qtsupport.h"

#include "app/mainws.h"
#include "tools/blockers/ws_tcpb.h"
#include "tools/http/http_asy.h"
#include "tools/http/ws_hclient.h"
#include "tools/icmp/ping_ip.h"
#include "tools/icmp/traceroute.h"
#include "tools/info/ws_servis.h"
#include "tools/lookup/dnsx.h"
#include "tools/plain/unos_porta.h"
#include "tools/plain/ws_client.h"
#include "tools/portcheck/port_chk.h"
#include "ui/qt/formwidget.h"
#include "ui/qt/listview.h"

#include <QLabel>
#include <QScrollBar>
#include <QTest>

namespace uiqt {
namespace {

using namespace tools;

// How a list is filled once its window is on the screen.
enum class Fill { WhileBusy, Replaced, Appended };

// One row per window: Enter in `entry` presses `button` (0: none); `list`, filled
// so, then stands at its end or still at its first row.
struct WindowCase {
    const char* procedure;
    ui::WindowDefinition (*definition)();
    int entry, button, list = 0;
    Fill fill = Fill::Appended;
    bool atEnd = false;
};
#define ROW(Tool, ...) (WindowCase{#Tool, Tool::makeDefinition, __VA_ARGS__})

class ToolWindowTest : public QtDesktopTest {
protected:
    template <typename T = ui::ListView> T* widget(const ui::ToolWindow& w, int control) {
        return qobject_cast<T*>(m_frontEnd.subWindow(w)->form()->controlWidget(control));
    }
};
class Window : public ToolWindowTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(Window, EnterPressesTheEntrysButtonAndAListOpensAtItsFirstRow) {
    const WindowCase& c = GetParam();
    auto w = open(std::make_unique<TestWindow>(c.procedure, c.definition()));
    if (c.entry != 0) {
        QTest::keyClick(widget<QWidget>(*w, c.entry), Qt::Key_Return);
        onToolThread(*w, [] {}); // what Enter posted has been handled
        EXPECT_EQ(w->controls(),
                  (c.button ? std::vector{c.entry, c.button} : std::vector{c.entry}));
    }
    if (c.list == 0) return;
    const std::vector<ui::Row> rows(200, ui::Row{"07.12.2026 10:10:08", "80"});
    onToolThread(*w, [&] {
        w->model().setWaitCursor(c.fill == Fill::WhileBusy);
        for (const ui::Row& row : c.fill == Fill::Replaced ? std::vector<ui::Row>() : rows)
            w->model().appendRow(c.list, row);
        if (c.fill == Fill::Replaced) w->model().setRows(c.list, rows);
        w->model().setWaitCursor(false);
    });
    QScrollBar* bar = widget(*w, c.list)->verticalScrollBar();
    ASSERT_TRUE(waitUntil([&] { return bar->maximum() > 0 && (!c.atEnd || bar->value() > 0); }));
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), c.atEnd ? bar->maximum() : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, Window,
    ::testing::Values(ROW(Ping_ip, Ping_ip::AddressEntry, Ping_ip::PingButton),
                      ROW(Traceroute, Traceroute::AddressEntry, Traceroute::GoButton,
                          Traceroute::HopList, Fill::WhileBusy),
                      ROW(DNSx, DNSx::NameEntry, DNSx::IpButton),
                      ROW(DNSx, DNSx::IpEntry, DNSx::NameButton),
                      ROW(Port_chk, Port_chk::FirstEntry, Port_chk::GoButton, Port_chk::Log,
                          Fill::Appended, true),
                      ROW(WS_CLIENT, WS_CLIENT::IpEntry, WS_CLIENT::ConnectButton),
                      ROW(WS_CLIENT, WS_CLIENT::PortEntry, WS_CLIENT::ConnectButton),
                      ROW(WS_CLIENT, WS_CLIENT::CommandEntry, WS_CLIENT::SendButton),
                      ROW(ws_HClient, ws_HClient::PageEntry, ws_HClient::GoButton),
                      ROW(Http_asy, Http_asy::UrlEntry, Http_asy::GoButton),
                      ROW(Unos_porta, Unos_porta::PortEntry, 0),
                      ROW(WS_SERVIS, 0, 0, NameList::List, Fill::WhileBusy),
                      ROW(WS_TcpB, 0, 0, PortBlocker::PortsControl, Fill::Replaced)));

// A row naming a sockets error (here as the marked report writes it) says what it
// means, in its tooltip and, selected, in the status bar; a row the tool marked says why.
TEST_F(ToolWindowTest, ErrorAndMarkedRowsExplainThemselves) {
    open(std::make_unique<TestWindow>("MainWS", app::MainWS::makeDefinition()));
    auto w = open(std::make_unique<TestWindow>("WS_TcpB", WS_TcpB::makeDefinition()));
    onToolThread(*w, [&] {
        w->model().appendRow(PortBlocker::LogControl, {"ERROR !", "wsaeconnrefused"});
        w->model().appendRow(PortBlocker::PortsControl, {"21        ", "Ftp"});
        w->model().setRowNote(PortBlocker::PortsControl, 0, "Permission denied");
    });
    auto* log = widget(*w, PortBlocker::LogControl);
    auto* ports = widget(*w, PortBlocker::PortsControl);
    ASSERT_TRUE(waitUntil([&] {
        return log->model()->rowCount() == 1 &&
               ports->model()->index(0, 1).data(Qt::ToolTipRole) == "Permission denied";
    }));
    const QModelIndex error = log->model()->index(0, 1), port = ports->model()->index(0, 1);
    const QString refused = "Connection refused: nothing listens on that port";
    EXPECT_EQ(error.data(Qt::ToolTipRole).toString(), refused);
    EXPECT_FALSE(error.data(Qt::ForegroundRole).isValid());
    EXPECT_TRUE(port.data(Qt::ForegroundRole).isValid());
    log->setFocus();
    log->setCurrentIndex(error);
    EXPECT_TRUE(
        waitUntil([&] { return m_frontEnd.mainWindow().statusZone(1)->text() == refused; }));
}

} // namespace
} // namespace uiqt
