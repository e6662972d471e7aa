// Transport and status: "pbstatus", "pbinitialize", "pbclose", "pbplay",
// "pbstartscheduler", "pbplayitem", "pbcue", "pbcueitem", "pbpause",
// "pbstop", "pbstopscheduler", "pbskiptonext" and "pbscrubtotime". The
// stand-in runs no schedules, so the scheduler commands act on the playlist
// (start is play, stop is stop).

#include "node-standin/CommandTable.h"

namespace standin {
namespace {

using platform::Value;

platform::Date dateOf(platform::Clock::WallTime time) {
  return std::chrono::time_point_cast<std::chrono::microseconds>(time);
}

platform::Result<Reply> replyFor(const platform::Status& status) {
  if (!status) return status.error();
  return Reply::ok();
}

platform::Result<Reply> status(CommandContext& context) {
  const PlaybackSnapshot snapshot = context.node.playback().snapshot();
  platform::Array locked;
  for (const std::string& id : snapshot.lockedClips) locked.emplace_back(id);
  return Reply::propertyList(Value(platform::Dictionary{
      {"status", Value(statusWord(snapshot.status))},
      {"playlistUniqueID", Value(snapshot.playlistUniqueID)},
      {"clipPlaybackUniqueID", Value(snapshot.clipPlaybackUniqueID)},
      {"position", Value(snapshot.position)},
      {"loopMode", Value(snapshot.loopMode)},
      {"chainMode", Value(snapshot.chainMode)},
      {"cueMode", Value(snapshot.cueMode)},
      {"lockedClips", Value(std::move(locked))},
      {"currentDateTime", Value(dateOf(platform::Clock::current().wallNow()))},
      {"schedulerDelayInSeconds", Value(0.0)},
      {"isAuthenticated", Value(context.authenticated)},
      {"slaveMode", Value(context.node.slaveMode())},
      {"lastCommandTimeStamp", Value(dateOf(snapshot.lastCommandTime))},
  }));
}

platform::Result<Reply> initialize(CommandContext& context) {
  context.node.playback().initialize();
  return Reply::ok();
}

platform::Result<Reply> close(CommandContext& context) {
  context.node.playback().close();
  return Reply::ok();
}

platform::Result<Reply> resume(CommandContext& context) {
  if (!noMoreArguments(context)) return badArguments("pbplay");
  return replyFor(context.node.playback().resume());
}

// "[PLAYBACK_ID [SECONDS]]", seconds as "%f" or "%lu".
struct ClipArguments {
  std::optional<std::string> playbackUniqueID;
  double offset = 0;
};

platform::Result<ClipArguments> clipArguments(CommandContext& context, std::string_view command) {
  ClipArguments result;
  if (const std::optional<std::string_view> id = context.arguments.word()) {
    result.playbackUniqueID = std::string(*id);
    if (const std::optional<std::string_view> offset = context.arguments.word()) {
      const std::optional<double> seconds = parseSeconds(*offset);
      if (!seconds) return badArguments(command);
      result.offset = *seconds;
    }
  }
  if (!noMoreArguments(context)) return badArguments(command);
  return result;
}

platform::Result<Reply> playItem(CommandContext& context) {
  platform::Result<ClipArguments> clip = clipArguments(context, "pbplayitem");
  if (!clip) return clip.error();
  return replyFor(context.node.playback().playItem(clip->playbackUniqueID, clip->offset));
}

platform::Result<Reply> cue(CommandContext& context) {
  if (!noMoreArguments(context)) return badArguments("pbcue");
  return replyFor(context.node.playback().cueItem(std::nullopt, 0));
}

platform::Result<Reply> cueItem(CommandContext& context) {
  platform::Result<ClipArguments> clip = clipArguments(context, "pbcueitem");
  if (!clip) return clip.error();
  return replyFor(context.node.playback().cueItem(clip->playbackUniqueID, clip->offset));
}

platform::Result<Reply> pause(CommandContext& context) { return replyFor(context.node.playback().pause()); }

platform::Result<Reply> stop(CommandContext& context) { return replyFor(context.node.playback().stop()); }

platform::Result<Reply> skipToNext(CommandContext& context) {
  return replyFor(context.node.playback().skipToNext());
}

platform::Result<Reply> scrubToTime(CommandContext& context) {
  const std::optional<std::string_view> text = context.arguments.word();
  const std::optional<double> seconds = text ? parseSeconds(*text) : std::nullopt;
  if (!seconds || !noMoreArguments(context)) return badArguments("pbscrubtotime");
  return replyFor(context.node.playback().scrubToTime(*seconds));
}

constexpr CommandEntry kCommands[] = {
    {"pbstatus", CommandAccess::Query, status},
    {"pbinitialize", CommandAccess::Control, initialize},
    {"pbclose", CommandAccess::Control, close},
    {"pbplay", CommandAccess::Control, resume},
    {"pbstartscheduler", CommandAccess::Control, resume},
    {"pbplayitem", CommandAccess::Control, playItem},
    {"pbcue", CommandAccess::Control, cue},
    {"pbcueitem", CommandAccess::Control, cueItem},
    {"pbpause", CommandAccess::Control, pause},
    {"pbstop", CommandAccess::Control, stop},
    {"pbstopscheduler", CommandAccess::Control, stop},
    {"pbskiptonext", CommandAccess::Control, skipToNext},
    {"pbscrubtotime", CommandAccess::Control, scrubToTime},
};

}  // namespace

std::span<const CommandEntry> playbackCommands() { return kCommands; }

}  // namespace standin
