#include "core/commands/FileErrorMessage.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace {

TEST(FileErrorMessage, EachCauseHasItsMessageWithThePathAndTheRestTheGenericOne) {
    const std::pair<int, const char*> cases[] = {
        {ENOENT, "/d/a.lst には無効なﾊﾟｽが含まれています。"},
        {ENOTDIR, "/d/a.lst には無効なﾊﾟｽが含まれています。"},
        {ENXIO, "/d/a.lst が見つかりませんでした。"},
        {EMFILE, "開いているﾌｧｲﾙが多すぎるため、/d/a.lst を開けませんでした。"},
        {EACCES, "/d/a.lst へのｱｸｾｽは拒否されました。"},
        {EROFS, "/d/a.lst へのｱｸｾｽは拒否されました。"},
        {EBADF, "/d/a.lst へ無効なﾌｧｲﾙ ﾊﾝﾄﾞﾙが関連付けられていました。"},
        {EMLINK, "/d/a.lst を作成できませんでした。そのﾃﾞｨﾚｸﾄﾘはいっぱいです。"},
        {ESPIPE, "/d/a.lst のｼｰｸに失敗しました。"},
        {EIO, "/d/a.lst へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。"},
        {ETXTBSY, "/d/a.lst へのｱｸｾｽ中に共有違反が発生しました。"},
        {ENOLCK, "/d/a.lst へのｱｸｾｽ中にﾛｯｸ違反が発生しました。"},
        {ENOSPC, "/d/a.lst へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"},
        {EFBIG, "/d/a.lst へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"},
        {EINVAL, "/d/a.lst へのｱｸｾｽ中に不明なｴﾗｰが発生しました。"},
        {0, "/d/a.lst へのｱｸｾｽ中に不明なｴﾗｰが発生しました。"},
    };
    for (const auto& [error, text] : cases)
        EXPECT_EQ(FileErrorText(error, "/d/a.lst"), text) << error;
    // A path that holds the placeholder itself is shown as it is.
    EXPECT_EQ(FileErrorText(EACCES, "/d/%1"), "/d/%1 へのｱｸｾｽは拒否されました。");

    // A failed write names a path that is no regular file as such, whatever
    // its errno; other causes say what their errno says.
    using enum AtomicWriteCause;
    EXPECT_EQ(FileErrorText({NotRegularFile, EISDIR}, "/d/a.lst"),
              "/d/a.lst は通常のﾌｧｲﾙではないため、書き込めませんでした。");
    EXPECT_EQ(FileErrorText({DiskFull, EFBIG}, "/d/a.lst"),
              "/d/a.lst へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。");
}

} // namespace
