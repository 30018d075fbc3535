// The command line of snapshots for scripts.
#include "app/snapshot.h"

#include <gtest/gtest.h>

namespace {

std::optional<SnapshotRequest> Parse(std::vector<std::string> args, std::string* error)
{
    args.insert(args.begin(), "sonalyx");
    error->clear();
    return SnapshotArguments(args, error);
}

TEST(SnapshotArguments, AFolderAndAWaitOrNothing)
{
    std::string error;
    EXPECT_FALSE(Parse({}, &error));
    EXPECT_TRUE(error.empty()) << "no snapshot asked for: an ordinary start";
    EXPECT_FALSE(Parse({"-platform", "xcb"}, &error));
    EXPECT_TRUE(error.empty()) << "other arguments are Qt's";

    auto request = Parse({"--snapshot", "/tmp/shots", "--after", "2.5"}, &error);
    ASSERT_TRUE(request) << error;
    EXPECT_EQ(request->folder, "/tmp/shots");
    EXPECT_DOUBLE_EQ(request->seconds, 2.5);
    request = Parse({"--after", "0", "--snapshot", "out"}, &error);
    ASSERT_TRUE(request) << "in either order";
    EXPECT_EQ(request->seconds, 0);
    request = Parse({"--snapshot", "out"}, &error);
    ASSERT_TRUE(request) << "no wait: at once";
    EXPECT_EQ(request->seconds, 0);
}

TEST(SnapshotArguments, WrongOnesSayWhatIsWrong)
{
    std::string error;
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--snapshot"},
                                                  {"--snapshot", "out", "--after"},
                                                  {"--snapshot", "out", "--after", "x"},
                                                  {"--snapshot", "out", "--after", "-1"},
                                                  {"--snapshot", "out", "--after", "nan"},
                                                  {"--snapshot", "out", "--after", "1e9"},
                                                  {"--after", "3"},
                                                  {"--snapshot", ""}}) {
        EXPECT_FALSE(Parse(wrong, &error));
        EXPECT_FALSE(error.empty()) << wrong.back();
    }
}

} // namespace
