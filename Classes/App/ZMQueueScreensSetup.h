#pragma once
// Connects the queue screens, the options sheet, the post-install prompt and
// the link router to the package operations: the confirmed queue goes to
// ZMQueue::confirm (downloads, then the run), holds to apt-mark, accepted
// post-install actions to the executor, opened .deb files to their
// installation task. ZMApplication calls install() at launch.
class ZMQueueScreensSetup {
public:
    static void install();
};
