// What the commands read is only ever the committed options; the dialog's working copy becomes
// visible only through a commit, and a revert brings the working copy back to what is committed.
#include "options_record.h"

#include <gtest/gtest.h>

namespace kestrave {
namespace {

using enum OptionFlag;

TEST(OptionsRecord, DefaultsAreOffThenOnAndSystem32) {
    OptionsRecord record;
    record.LoadDefaults();
    EXPECT_FALSE(record.IsOn(DeleteAfterRegister));
    for (OptionFlag flag : {DeleteAfterUnregister, StayOnTop, WarnMissingSource, KeepLastFolder}) {
        EXPECT_TRUE(record.IsOn(flag));
    }
    EXPECT_EQ(record.FlagText(0), L"0");
    EXPECT_EQ(record.FlagText(1), L"-1");
    EXPECT_EQ(record.TargetSubfolder(), L"\\System32\\");
    EXPECT_EQ(record.FolderSelection(), 0);
}

TEST(OptionsRecord, PendingChangesAreInvisibleUntilCommitted) {
    OptionsRecord record;
    record.LoadDefaults();
    record.TogglePending(0);
    record.TogglePending(3);
    record.SelectFolder(1);
    EXPECT_FALSE(record.IsOn(DeleteAfterRegister));
    EXPECT_TRUE(record.IsOn(WarnMissingSource));
    EXPECT_EQ(record.TargetSubfolder(), L"\\System32\\");

    record.Commit();
    EXPECT_TRUE(record.IsOn(DeleteAfterRegister));
    EXPECT_FALSE(record.IsOn(WarnMissingSource));
    EXPECT_EQ(record.FlagText(0), L"-1");
    EXPECT_EQ(record.FlagText(3), L"0");
    EXPECT_EQ(record.TargetSubfolder(), L"\\System\\");
}

TEST(OptionsRecord, RevertRestoresTheWorkingCopyFromTheCommittedValues) {
    OptionsRecord record;
    record.LoadDefaults();
    record.TogglePending(0);
    record.TogglePending(2);
    record.SelectFolder(1);
    record.Revert();
    EXPECT_EQ(record.PendingFlag(0), 0);
    EXPECT_EQ(record.PendingFlag(2), -1);
    EXPECT_EQ(record.FolderSelection(), 0);
    // A later commit writes what was committed before, not the abandoned changes.
    record.Commit();
    EXPECT_FALSE(record.IsOn(DeleteAfterRegister));
    EXPECT_TRUE(record.IsOn(StayOnTop));
    EXPECT_EQ(record.TargetSubfolder(), L"\\System32\\");
}

TEST(OptionsRecord, TogglingTwiceCommitsThePreviousValue) {
    OptionsRecord record;
    record.LoadDefaults();
    record.TogglePending(4);
    record.TogglePending(4);
    record.Commit();
    EXPECT_TRUE(record.IsOn(KeepLastFolder));
    EXPECT_EQ(record.PendingFlag(4), -1);
}

TEST(OptionsRecord, RevertAfterCommittingTheSecondFolderSelectsIt) {
    OptionsRecord record;
    record.LoadDefaults();
    record.SelectFolder(1);
    record.Commit();
    record.SelectFolder(0);
    record.Revert();
    EXPECT_EQ(record.FolderSelection(), 1);
}

TEST(Options, FirstReadLoadsTheDialogOnceWithTheDefaults) {
    int loads = 0;
    Options options([&] { ++loads; });
    EXPECT_FALSE(options.Loaded());
    EXPECT_EQ(options.TargetSubfolder(), L"\\System32\\");
    EXPECT_FALSE(options.IsOn(DeleteAfterRegister));
    EXPECT_TRUE(options.IsOn(WarnMissingSource));
    EXPECT_EQ(loads, 1);
    EXPECT_TRUE(options.Loaded());
}

TEST(Options, ALaterReadSeesCommittedValuesNotDefaults) {
    Options options;
    options.Record().TogglePending(0);
    options.Record().Commit();
    EXPECT_TRUE(options.IsOn(DeleteAfterRegister));
}

}  // namespace
}  // namespace kestrave
