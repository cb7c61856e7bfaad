#include "view/FileErrorMessage.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace {

TEST(FileErrorMessage, EachCauseHasItsMessageAndTheRestTheGenericOne) {
    const struct {
        int error;
        const char* message;
    } cases[] = {
        {ENOENT, "%1 には無効なﾊﾟｽが含まれています。"},
        {ENOTDIR, "%1 には無効なﾊﾟｽが含まれています。"},
        {ENAMETOOLONG, "%1 には無効なﾊﾟｽが含まれています。"},
        {ENXIO, "%1 が見つかりませんでした。"},
        {EMFILE, "開いているﾌｧｲﾙが多すぎるため、%1 を開けませんでした。"},
        {ENFILE, "開いているﾌｧｲﾙが多すぎるため、%1 を開けませんでした。"},
        {EACCES, "%1 へのｱｸｾｽは拒否されました。"},
        {EPERM, "%1 へのｱｸｾｽは拒否されました。"},
        {EROFS, "%1 へのｱｸｾｽは拒否されました。"},
        {EISDIR, "%1 へのｱｸｾｽは拒否されました。"},
        {EBADF, "%1 へ無効なﾌｧｲﾙ ﾊﾝﾄﾞﾙが関連付けられていました。"},
        {EMLINK, "%1 を作成できませんでした。そのﾃﾞｨﾚｸﾄﾘはいっぱいです。"},
        {ESPIPE, "%1 のｼｰｸに失敗しました。"},
        {EIO, "%1 へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。"},
        {ETXTBSY, "%1 へのｱｸｾｽ中に共有違反が発生しました。"},
        {ENOLCK, "%1 へのｱｸｾｽ中にﾛｯｸ違反が発生しました。"},
        {ENOSPC, "%1 へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"},
        {EDQUOT, "%1 へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"},
        {EFBIG, "%1 へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"},
        {EINVAL, "%1 へのｱｸｾｽ中に不明なｴﾗｰが発生しました。"},
        {0, "%1 へのｱｸｾｽ中に不明なｴﾗｰが発生しました。"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(FileErrorMessage(c.error), c.message) << c.error;
}

TEST(FileErrorMessage, ThePathTakesThePlaceOfThePlaceholderOnce) {
    EXPECT_EQ(FileErrorText(ENOSPC, "/tmp/結果 %1.lst"),
              "/tmp/結果 %1.lst へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。");
    EXPECT_EQ(FileErrorText(EMFILE, "a.lst"),
              "開いているﾌｧｲﾙが多すぎるため、a.lst を開けませんでした。");
}

} // namespace
