#include "secure/IdentityKey.h"
#include "secure/SafetyCode.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(SafetyCodeTest, IsTheSameOnBothSidesAndChangesWithEitherKey)
{
    const QByteArray a = IdentityKey::generate().publicKey();
    const QByteArray b = IdentityKey::generate().publicKey();
    const QByteArray c = IdentityKey::generate().publicKey();
    const QString code = safetyCode(a, b);
    EXPECT_TRUE(QRegularExpression(u"^\\d{4} \\d{4} \\d{4}$"_s).match(code).hasMatch()) << code.toStdString();
    EXPECT_EQ(safetyCode(b, a), code);
    EXPECT_NE(safetyCode(a, c), code);
    EXPECT_NE(safetyCode(c, b), code);
    EXPECT_EQ(safetyCode(a, b.chopped(1)), QString());
    EXPECT_EQ(safetyCode(QByteArray(), b), QString());
}

// The derivation is part of the format: two versions of the program must show the same code.
TEST(SafetyCodeTest, KeepsVersionOneOfTheDerivation)
{
    const QByteArray a = IdentityKey::fromSeed(QByteArray(32, '\x01'))->publicKey();
    const QByteArray b = IdentityKey::fromSeed(QByteArray(32, '\x02'))->publicKey();
    EXPECT_EQ(safetyCode(a, b), u"6437 1796 8766"_s);
}
