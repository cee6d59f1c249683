// The system's Env: every call's failure names the path and the system's
// reason; and a FaultEnv over it asks about each call once, under the kind
// that call has, fails exactly the calls it is told to with the reason it is
// given, and leaves the disk as the failed call found it.
#include "platform/env.h"

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fault_env.h"
#include "gtest/gtest.h"
#include "test_support.h"

namespace {

using platform::Env;
using platform::RandomAccessFile;
using platform::Status;
using testing_support::FaultEnv;
using testing_support::IoCall;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(EnvTest, TheSystemsFailuresNameThePathAndTheReason) {
  TempDir dir;
  WriteFile(dir.Join("file"), "bytes");
  WriteFile(dir.Join("full/inside"), "x");
  Env* env = Env::Default();
  const std::string missing = dir.Join("missing");
  std::unique_ptr<RandomAccessFile> file;
  std::unique_ptr<platform::SequentialFile> sequential;
  std::FILE* stream = nullptr;
  std::vector<platform::DirectoryEntry> entries;
  platform::FileStamp stamp;
  const std::string loop = dir.Join("loop");
#ifndef _WIN32
  std::filesystem::create_symlink("loop", loop);
#endif
  const struct {
    const char* call;
    std::function<Status()> run;
    std::string context;
    int error;
  } rows[] = {
      {"open", [&] { return env->OpenFile(missing, RandomAccessFile::Mode::kReadWrite, &file); },
       missing, ENOENT},
#ifndef _WIN32  // Windows says only that access is denied
      {"open a directory",
       [&] { return env->OpenFile(dir.path(), RandomAccessFile::Mode::kRead, &file); },
       dir.path(), EISDIR},
#endif
      {"open to read", [&] { return env->OpenSequentialFile(missing, &sequential, nullptr); },
       missing, ENOENT},
      {"open a stream", [&] { return env->OpenStream(missing, "rb", &stream); }, missing, ENOENT},
      {"rename", [&] { return env->RenameFile(missing, dir.Join("to")); }, dir.Join("to"), ENOENT},
      {"remove", [&] { return env->DeleteFile(missing); }, missing, ENOENT},
      {"make a directory that is there", [&] { return env->CreateDirectory(dir.Join("full")); },
       dir.Join("full"), EEXIST},
      {"remove a directory", [&] { return env->RemoveDirectory(missing); }, missing, ENOENT},
      {"list", [&] { return env->ListDirectory(missing, &entries, nullptr); }, missing, ENOENT},
      {"attributes to normal", [&] { return env->SetAttributesNormal(missing); }, missing, ENOENT},
      {"copy permissions", [&] { return env->CopyPermissions(missing, dir.Join("file")); },
       dir.Join("file"), ENOENT},
#ifndef _WIN32
      {"stamp a link that leads to itself", [&] { return env->StampFile(loop, &stamp); }, loop,
       ELOOP},
#endif
  };
  for (const auto& row : rows) {
    const Status status = row.run();
    EXPECT_FALSE(status.ok()) << row.call;
    EXPECT_EQ(status.context(), row.context) << row.call;
    EXPECT_EQ(status.error(), row.error) << row.call << ": " << status.ToString();
  }
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(sequential, nullptr);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(ReadFile(dir.Join("file")), "bytes");

  // Nothing there is an answer, not a failure; a file that cannot be looked
  // at is no "other file" to a caller that asks for the reason.
  EXPECT_TRUE(env->StampFile(missing, &stamp).ok());
  EXPECT_FALSE(stamp.exists);
  bool same = true;
  EXPECT_TRUE(env->CompareFiles(dir.Join("file"), missing, &same).ok());
  EXPECT_FALSE(same);
  EXPECT_TRUE(env->CompareFiles(dir.Join("file"), dir.path() + "/./FILE", &same).ok());
  EXPECT_TRUE(same);
#ifndef _WIN32
  EXPECT_EQ(env->CompareFiles(dir.Join("file"), loop, &same).error(), ELOOP);
  EXPECT_FALSE(same);
  EXPECT_FALSE(env->IsSameFile(loop, loop));
  EXPECT_TRUE(env->MayBeSameFile(loop, dir.Join("file")));  // a guard it cannot pass
  EXPECT_FALSE(env->MayBeSameFile(dir.Join("file"), missing));
#endif
}

TEST(EnvTest, AFaultEnvAsksAboutEachCallOnceAndFailsOnlyWhatItIsTold) {
  // Each call once through a FaultEnv that fails nothing, then once through
  // one that fails its kind: the first goes through and counts one call of
  // that kind only; the second fails with the given reason and changes nothing.
  struct Row {
    const char* call;
    IoCall kind;
    std::function<Status(Env* env, const std::string& dir)> run;
    std::string after;  // a file that exists after the call went through ("" for none)
  };
  const Row rows[] = {
      {"open", IoCall::kOpen,
       [](Env* env, const std::string& dir) {
         std::unique_ptr<RandomAccessFile> file;
         return env->OpenFile(dir + "/new", RandomAccessFile::Mode::kCreateReadWrite, &file);
       },
       "new"},
      {"write", IoCall::kWrite,
       [](Env* env, const std::string& dir) {
         std::unique_ptr<RandomAccessFile> watched;
         const Status opened = env->OpenFile(dir + "/old", RandomAccessFile::Mode::kReadWrite,
                                             &watched);
         return opened.ok() ? watched->Write(0, "NEW", 3) : opened;
       },
       ""},
      {"read", IoCall::kRead,
       [](Env* env, const std::string& dir) {
         std::unique_ptr<platform::SequentialFile> file;
         Status status = env->OpenSequentialFile(dir + "/old", &file, nullptr);
         char buffer[3];
         std::size_t got = 0;
         if (status.ok()) status = file->Read(buffer, sizeof buffer, &got);
         return status;
       },
       ""},
      {"rename", IoCall::kRename,
       [](Env* env, const std::string& dir) {
         return env->RenameFile(dir + "/old", dir + "/renamed");
       },
       "renamed"},
      {"remove", IoCall::kRemove,
       [](Env* env, const std::string& dir) { return env->DeleteFile(dir + "/old"); }, ""},
      {"mkdir", IoCall::kMkdir,
       [](Env* env, const std::string& dir) { return env->CreateDirectory(dir + "/made"); },
       "made"},
      {"rmdir", IoCall::kRmdir,
       [](Env* env, const std::string& dir) { return env->RemoveDirectory(dir + "/empty"); }, ""},
      {"list", IoCall::kList,
       [](Env* env, const std::string& dir) {
         std::vector<platform::DirectoryEntry> entries;
         return env->ListDirectory(dir, &entries, nullptr);
       },
       ""},
      {"stat", IoCall::kStat,
       [](Env* env, const std::string& dir) {
         platform::FileStamp stamp;
         return env->StampFile(dir + "/old", &stamp);
       },
       ""},
      {"chmod", IoCall::kChmod,
       [](Env* env, const std::string& dir) { return env->SetAttributesNormal(dir + "/old"); },
       ""},
      {"sync", IoCall::kSync,
       [](Env* env, const std::string& dir) { return env->SyncDirectory(dir); }, ""},
  };
  for (const Row& row : rows) {
    for (const bool failing : {false, true}) {
      TempDir dir;
      WriteFile(dir.Join("old"), "old");
      std::filesystem::create_directory(dir.Join("empty"));
      FaultEnv faults;
      if (failing) {
        faults.fault = [&row](IoCall call) { return call == row.kind ? ENOSPC : 0; };
      }
      const Status status = row.run(&faults, dir.path());
      SCOPED_TRACE(std::string(row.call) + (failing ? ", failing" : ""));
      EXPECT_EQ(faults.calls(row.kind), 1);
      long long calls = 0;
      for (int kind = 0; kind < testing_support::kIoCallKinds; ++kind) {
        calls += faults.calls(static_cast<IoCall>(kind));
      }
      // A write or read first opens its file, which is asked about as well.
      const bool opensFirst = row.kind == IoCall::kWrite || row.kind == IoCall::kRead;
      EXPECT_EQ(calls, opensFirst ? 2 : 1);
      if (!failing) {
        EXPECT_TRUE(status.ok()) << status.ToString();
        if (!row.after.empty()) {
          EXPECT_TRUE(testing_support::FileExists(dir.Join(row.after)));
        }
        continue;
      }
      EXPECT_EQ(status.error(), ENOSPC) << status.ToString();
      EXPECT_EQ(ReadFile(dir.Join("old")), "old");
      EXPECT_TRUE(testing_support::FileExists(dir.Join("empty")));
      if (!row.after.empty()) {
        EXPECT_FALSE(testing_support::FileExists(dir.Join(row.after)));
      }
    }
  }
}

}  // namespace
