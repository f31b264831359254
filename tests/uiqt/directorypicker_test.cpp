#include "qtsupport.h"

#include "platform/scratchdir.h"
#include "ui/frontend.h"

#include <QFileDialog>

namespace uiqt {
namespace {

QFileDialog* openDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) return d;
    return nullptr;
}

struct PickerTest : QtDesktopTest {};

TEST_F(PickerTest, TheChosenDirectoryEndingInASlashOrNothingReachesTheAskingThread) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.path() / "served");
    auto asking = open(std::make_unique<TestWindow>("Asking", ui::WindowDefinition{}));
    for (const bool accept : {true, false}) {
        std::atomic<bool> answered{false};
        std::string chosen = "unset";
        asking->invoke([&] {
            chosen = asking->frontEnd()->chooseDirectory(*asking, "Select", dir.path().string());
            answered = true;
        });
        QFileDialog* dialog = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (dialog = openDialog()) != nullptr; }));
        EXPECT_EQ(dialog->windowTitle(), "Select");
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        EXPECT_FALSE(answered.load());
        if (accept) {
            dialog->setDirectory(QString::fromStdString((dir.path() / "served").string()));
            // The dialog's own accept (a protected slot), as its OK button calls it.
            QMetaObject::invokeMethod(dialog, "accept");
        } else {
            dialog->reject();
        }
        ASSERT_TRUE(waitUntil([&] { return answered.load(); }));
        EXPECT_EQ(chosen, accept ? (dir.path() / "served").string() + "/" : std::string());
    }
}

} // namespace
} // namespace uiqt
