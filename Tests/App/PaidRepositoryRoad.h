#pragma once
// Walks against a repository that sells one package through its store
// (FakeStores::PaidRepository), on top of a launch fixture.
#include "App/LaunchFixture.h"
#include "Details/PackageDetailsViewController.h"
#include "Online/Screens/WebPageDriver.h"
#include "Services/ZMRepoStoreAPI.h"
#include "Support/FakeStores.h"

namespace Launch {

inline constexpr const char* kPaid = "com.example.paid";

template <class Base> class PaidRepositoryRoad : public Base, protected FakeStores::PaidRepository {
protected:
    void SetUp() override {
        Base::SetUp();
        serve(kPaid);
    }
    bool signedIn() const { return ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location()); }
    // Signed out, the price opens the store's sign-in page: filled in and sent.
    void signInFromThePrice(PackageDetailsViewController* page) {
        UserGesture::click(page->getBtn());
        auto* signin = WebPageDriver::lastStorePage("password");
        ASSERT_NE(signin, nullptr);
        WebPageDriver::run(signin, "document.getElementById('user').value = 'jane';"
                                   "document.getElementById('password').value = 'secret';"
                                   "document.getElementById('signin').click();");
        ASSERT_TRUE(GuiTest::waitUntil([&] { return signedIn(); }, std::chrono::seconds(60)));
        ASSERT_TRUE(Base::backAtTheWindow());
    }
};

}  // namespace Launch
