// The server inside the main window: started by the constructor, fed by single_shot, stopped by
// FormClose, with the window's client-error handler. Real loopback clients.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QPushButton>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "Quarvel1/form1.h"
#include "loopback_client.h"
#include "tests/support/telegram_check.h"

namespace {

using net_test::LoopbackClient;
using net_test::wait_until;

class Form1ServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("INTERVAL");
        server_port = 0;
        form = std::make_unique<TForm1>();
        port = form->ServerSocket->bound_port();
        ASSERT_TRUE(form->ServerSocket->Active());
    }
    void TearDown() override {
        form.reset();
        server_port = 4099;
    }
    std::unique_ptr<LoopbackClient> accepted_client() {
        const int before = form->ServerSocket->active_connections();
        auto client = std::make_unique<LoopbackClient>(port);
        EXPECT_TRUE(
            wait_until([&] { return form->ServerSocket->active_connections() == before + 1; }));
        return client;
    }

    std::unique_ptr<TForm1> form;
    std::uint16_t port = 0;
};

TEST_F(Form1ServerTest, SingleSendsTheComposedTelegramToEveryClient) {
    auto first = accepted_client();
    auto second = accepted_client();
    form->Button4->click();
    ASSERT_FALSE(telegramBuffer.empty());
    for (LoopbackClient* client : {first.get(), second.get()}) {
        ASSERT_TRUE(client->wait_for_bytes(telegramBuffer.size()));
        EXPECT_EQ(client->received(), telegramBuffer);
        const auto check = test_support::check_telegram(client->received());
        EXPECT_TRUE(check.ok) << check.why << ": " << client->received();
    }
}

TEST_F(Form1ServerTest, ClientErrorHandlerClearsEveryKindAndClosesOnlyOnConnect) {
    const net::TErrorEvent kinds[] = {net::eeGeneral, net::eeSend,       net::eeReceive,
                                      net::eeConnect, net::eeDisconnect, net::eeAccept};
    for (const net::TErrorEvent kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        auto client = accepted_client();
        net::TCustomWinSocket* connection =
            form->ServerSocket->connection(form->ServerSocket->active_connections() - 1);
        int code = ECONNRESET;
        form->ServerSocketClientError(form->ServerSocket, connection, kind, code);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(connection->connected(), kind != net::eeConnect);
        connection->close();
        ASSERT_TRUE(wait_until([&] { return form->ServerSocket->active_connections() == 0; }));
    }
}

TEST_F(Form1ServerTest, FormCloseClosesEveryClientAndStopsListening) {
    auto first = accepted_client();
    auto second = accepted_client();
    form->close();
    EXPECT_FALSE(form->ServerSocket->Active());
    EXPECT_TRUE(first->wait_for_close());
    EXPECT_TRUE(second->wait_for_close());
    LoopbackClient refused(port);
    EXPECT_FALSE(refused.ok());
}

TEST(Form1ServerStart, TakenPortEndsTheConstructionWithTheBindError) {
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    server_port = ntohs(address.sin_port);
    try {
        TForm1 form;
        ADD_FAILURE() << "the window was built without its server";
    } catch (const net::ESocketError& error) {
        EXPECT_NE(std::string(error.what()).find("on API 'bind'"), std::string::npos)
            << error.what();
    }
    server_port = 4099;
    ::close(holder);
}

}  // namespace
