// The Qt window draws the controller's state and forwards the customer's actions.
#include "support/views/ContactSupportWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include "tests/app/views/QtTestApplication.h"
#include "tests/supportwindow/SupportWindowFixture.h"

namespace {

class ContactSupportWindowTest : public testing_support::SupportWindowFixture {
 protected:
  void SetUp() override {
    testing_support::qtTestApplication();
    SupportWindowFixture::SetUp();
    qtWindow = std::make_unique<support::views::ContactSupportWindow>(*window);
    window->showWindow();
    window->collectingLogsContinueClick();
  }
  void TearDown() override {
    qtWindow.reset();
    SupportWindowFixture::TearDown();
  }
  template <typename Widget>
  Widget* child(const char* name) {
    auto* widget = qtWindow->findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  std::unique_ptr<support::views::ContactSupportWindow> qtWindow;
};

TEST_F(ContactSupportWindowTest, TheContactPageForwardsTheAddressAndContinue) {
  EXPECT_TRUE(qtWindow->isVisible());
  auto* pages = child<QStackedWidget>("pages");
  EXPECT_EQ(pages->currentWidget()->objectName(), "contactPage");
  auto* email = child<QLineEdit>("emailField");
  email->setText(" ann@exam ple.com");
  emit email->textEdited(email->text());
  EXPECT_EQ(email->text(), "ann@example.com");  // the blanks go, in the field too
  auto* continueButton = child<QPushButton>("continueButton");
  auto* backButton = child<QPushButton>("backButton");
  const int barWidth = child<QWidget>("buttonBar")->width();
  EXPECT_EQ(continueButton->geometry().right() + 1, barWidth - 13);
  EXPECT_EQ(backButton->x(), continueButton->x() - 97);
  continueButton->click();
  EXPECT_EQ(helpDesk->calls.back(), "lookup ann@example.com");
  window->userInfoRetrieved();
  passPageDelay(Page::Description);
  EXPECT_EQ(pages->currentWidget()->objectName(), "profilerPage");
  EXPECT_EQ(continueButton->text(), "Submit New Ticket");
  EXPECT_EQ(continueButton->width(), 158);
  EXPECT_EQ(continueButton->geometry().right() + 1, barWidth - 13);

  child<QLineEdit>("titleField")->setText("Clip stops");
  emit child<QLineEdit>("titleField")->textEdited("Clip stops");
  EXPECT_EQ(window->profiler().title(), "Clip stops");
  child<QComboBox>("requesterTypePopUp")->activated(2);
  EXPECT_TRUE(child<QLineEdit>("endUserCompanyField")->isVisible());
}

TEST_F(ContactSupportWindowTest, HelpDeskTextsStayPlainAndLinksAreLinks) {
  window->contactTypeChose(1);
  window->emailChanged("ann@example.com");
  window->nextButtonPushed();
  window->userInfoRetrieved();
  passPageDelay(Page::Tickets);
  helpDesk->tickets = {{false, "<b>Audio</b> & drops", 42, "", "vantelio"}};
  window->ticketListingRetrieved();
  auto* list = child<QListWidget>("ticketList");
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), "<b>Audio</b> & drops");
  list->setCurrentRow(0);
  EXPECT_TRUE(child<QPushButton>("continueButton")->isEnabled());

  window->creationTicketFailedErrorDescription("<i>No</i> see https://help.example.test/ now");
  auto* text = child<QTextBrowser>("confirmationText");
  EXPECT_EQ(text->toPlainText(), "<i>No</i> see https://help.example.test/ now");
  EXPECT_TRUE(text->toHtml().contains("href=\"https://help.example.test/\""));
  EXPECT_EQ(child<QLabel>("confirmationTitle")->text(), "Error!");
}

TEST_F(ContactSupportWindowTest, LinkedHtmlEscapesTheTextAndLinksFirstOccurrences) {
  const QString html = support::views::linkedHtml({"a <x> b\nhttp://h/t?a=1&b=2 and http://h/t?a=1&b=2", {"http://h/t?a=1&b=2"}});
  EXPECT_EQ(html,
            "a &lt;x&gt; b<br><a href=\"http://h/t?a=1&amp;b=2\" style=\"color: blue; text-decoration: "
            "underline;\">http://h/t?a=1&amp;b=2</a> and http://h/t?a=1&amp;b=2");
}

}  // namespace
