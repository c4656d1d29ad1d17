// The follow button of SearchCell: the mark is stored before the delegate
// hears of it, the confirmation comes and goes, and a delegate gone meanwhile
// is left alone.
#include <gtest/gtest.h>

#include <QVBoxLayout>

#include "SearchCell.h"
#include "Shell/ShellTestSupport.h"
#include "UIKit/UIAlertController.h"

namespace {

struct RecordingDelegate : QObject, SearchCellDelegate {
    std::string name;
    std::vector<bool> followedWhenTold;
    void followStateChanged() override {
        followedWhenTold.push_back(ZMRPackageManager::sharedPackageManager().developers().isDeveloperFollowed(name));
    }
};

class SearchCellTest : public ShellTest::Fixture {
protected:
    UIWindow window;
    UIViewController* root = new UIViewController;
    SearchCell* cell = nullptr;

    void SetUp() override {
        Fixture::SetUp();
        (void)Realm::defaultRealm();
        window.setRootViewController(root);
        cell = new SearchCell;
        (new QVBoxLayout(root))->addWidget(cell);
        window.resize(400, 300);
        window.show();
    }
    UIAlertController* confirmation() { return dynamic_cast<UIAlertController*>(window.topPresentedViewController()); }
};

TEST_F(SearchCellTest, FollowAndUnfollowAreStoredBeforeTheDelegateIsTold) {
    RecordingDelegate delegate;
    delegate.name = "Jane Doe";
    cell->setDeveloperName("Jane Doe");
    cell->setDelegate(&delegate);
    struct Step {
        bool follows;
        const char* title;
    };
    for (const Step& step : {Step{true, "Followed"}, Step{false, "Unfollowed"}}) {
        const size_t before = delegate.followedWhenTold.size();
        cell->followBtn()->click();
        EXPECT_EQ(cell->followButtonShowsFollowed(), step.follows);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return confirmation() != nullptr; })) << "once stored";
        EXPECT_EQ(confirmation()->alertTitle().toStdString(), step.title);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return delegate.followedWhenTold.size() == before + 1; }));
        EXPECT_EQ(delegate.followedWhenTold.back(), step.follows) << step.title;
        EXPECT_TRUE(GuiTest::waitUntil([&] { return confirmation() == nullptr; })) << "the confirmation stays";
    }
}

TEST_F(SearchCellTest, DelegateReleasedBeforeTheWriteLandsIsNotCalled) {
    auto* delegate = new RecordingDelegate;
    cell->setDeveloperName("Gone Dev");
    cell->setDelegate(delegate);
    cell->followBtn()->click();
    delete delegate;
    auto& developers = ZMRPackageManager::sharedPackageManager().developers();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return developers.isDeveloperFollowed("gone dev"); }));
    GuiTest::pump(std::chrono::milliseconds(150));
    EXPECT_EQ(cell->delegate(), nullptr);
}

}  // namespace
