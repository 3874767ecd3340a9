// Text streams on folder items: a whole file written or read in one go.
//
// Contract:
// - TextOutputStream::Create never touches the target: it writes to a new
//   temporary file beside it, "." + the target's name + ".saving-" + six
//   letters or digits (".ORVANDE.json.saving-a8Zk3Q"), a name no person
//   gives a file. Close flushes that file to disk (fsync) and only then
//   renames it over the target, so the target holds either its previous
//   text or the whole new text, never a part. A stream released without
//   Close, or whose Write failed, removes its temporary file and leaves the
//   target as it was. A new file gets mode 0666 less the umask; a replaced
//   one keeps its permission bits. When the target is a link, the file it
//   points to is replaced and the link stays. Only a regular file is
//   replaced: anything else there (a folder, a FIFO, a device, also at the
//   end of a link) raises and stays as it is.
// - RemoveLeftovers removes the temporary files of exactly that shape that
//   a stream ended by a kill left beside the target, and only stale ones:
//   regular files last written more than kStaleSeconds ago. A younger one
//   may be another process's save under way. Nothing else is ever removed:
//   not a link, not a folder, not "ORVANDE.json.original" or any other name
//   a person gave.
// - TextInputStream::Open never blocks and reads nothing: it opens without
//   waiting (a FIFO cannot hold it), and only a regular file of at most
//   kMaxSize bytes opens. ReadAll never reads more than kMaxSize bytes in
//   the stream's life, even from a file that grows after the opening.
// - Failures raise IOException naming the path and the errno text, with the
//   errno as ErrorNumber; Create and Open also store it as the item's
//   LastErrorCode (0 on success). A nil item raises NilObjectException.
//   Open of a missing file raises errno 2 (ENOENT); of something that is
//   not a regular file "not a regular file (a folder|a FIFO|...)" with
//   errno 21 (EISDIR) for a folder, else 22 (EINVAL); of a file over the
//   limit errno 27 (EFBIG) with its size. ReadAll past the limit raises 27.
// - Every descriptor is close-on-exec: started child processes inherit none.
#pragma once

#include <memory>
#include <string>

#include "platform/folderitem.h"
#include "platform/object.h"

class TextOutputStream : public Object {
 public:
  static std::shared_ptr<TextOutputStream> Create(const std::shared_ptr<FolderItem>& file);
  ~TextOutputStream() override;

  // Exactly the bytes given, no line end added.
  void Write(const std::string& text);
  // Raises when the text cannot be put in place (the temporary file then
  // removed); a second Close does nothing.
  void Close();

  // A temporary file older than this belongs to a stream that never ended.
  static constexpr int kStaleSeconds = 60;

  // Removes the stale temporary files of streams on this item that never
  // ended (see the contract above). Never raises; gives how many it removed.
  static int RemoveLeftovers(const std::shared_ptr<FolderItem>& file);

 private:
  TextOutputStream(std::shared_ptr<FolderItem> file, std::string target, std::string temp, int fd);
  void Discard() noexcept;
  [[noreturn]] void Fail(const char* what, int error);

  std::shared_ptr<FolderItem> file_;
  std::string target_;  // the file renamed over: the item's path, links resolved
  std::string temp_;
  int fd_;
  int failed_ = 0;  // errno of a failed Write: such a stream is never put in place
};

class TextInputStream : public Object {
 public:
  // The most a stream reads (1 MiB): far above any settings file, and small
  // enough that no text of that size costs its reader much.
  static constexpr long long kMaxSize = 1024LL * 1024;

  static std::shared_ptr<TextInputStream> Open(const std::shared_ptr<FolderItem>& file);
  ~TextInputStream() override;

  // The rest of the file; raises rather than read past kMaxSize.
  std::string ReadAll();
  void Close();

 private:
  TextInputStream(std::shared_ptr<FolderItem> file, int fd);

  std::shared_ptr<FolderItem> file_;
  int fd_;
  long long read_ = 0;  // bytes read so far
};
