// Modal forms: the seam that tests drive, and the real modal loop.
#include <gtest/gtest.h>

#include <QDialog>
#include <QTimer>

#include "platform/gui/Dialogs.h"

namespace {

TEST(Dialogs, ARunnerGetsTheFormAndItsResultIsTheAnswer)
{
    struct Case {
        const char* name;
        int result;
        bool ok;
    };
    const Case cases[] = {
        {"accepted form is OK", QDialog::Accepted, true},
        {"rejected form is not OK", QDialog::Rejected, false},
    };
    for (const Case& c : cases) {
        QDialog form;
        form.setWindowTitle("Поиск");
        QDialog* seen = nullptr;
        const gui::ScopedModalRunner runner([&](QDialog& shown) {
            seen = &shown;
            return c.result;
        });
        EXPECT_EQ(gui::ShowModal(form), c.result) << c.name;
        EXPECT_EQ(gui::ShowModalOk(form), c.ok) << c.name;
        EXPECT_EQ(seen, &form) << c.name;
    }
}

TEST(Dialogs, WithoutARunnerTheFormRunsItsOwnModalLoop)
{
    const gui::ScopedModalRunner real(nullptr);
    QDialog form;
    bool wasModal = false;
    QTimer::singleShot(0, &form, [&] {
        wasModal = form.isVisible() && form.isModal();
        form.accept();
    });
    EXPECT_TRUE(gui::ShowModalOk(form));
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(form.isVisible());
}

} // namespace
