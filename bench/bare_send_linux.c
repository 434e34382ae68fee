/* The Linux send without brandcli around it: the system calls of one brandcli send to one pty,
 * in the same order and with the same values, and nothing else. A static one-shot program, the
 * floor `brandcli brand PTY` is timed against from process start to exit.
 *
 *   bench_bare_send_linux PATH      exit 0 sent, 4 not opened, 5 not written
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static const unsigned char kFrame[16] = "BRVANDREL8;";

static void Interrupt(int signal) {
    (void)signal;
}

static long long NowMs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

int main(int argc, char** argv) {
    struct stat seen, opened;
    if (argc != 2 || stat(argv[1], &seen) != 0 || !S_ISCHR(seen.st_mode)) {
        return 4;
    }
    int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int held = 0;
    if (fd < 0 || fstat(fd, &opened) != 0 || ioctl(fd, TIOCGEXCL, &held) != 0 || held ||
        flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        return 4;
    }
    struct termios line, taken;
    if (tcgetattr(fd, &line) != 0) {
        return 4;
    }
    cfmakeraw(&line);
    cfsetispeed(&line, B38400);
    cfsetospeed(&line, B38400);
    line.c_cflag = (line.c_cflag & ~(CSIZE | PARENB | CSTOPB | HUPCL)) | CS8 | CRTSCTS | CLOCAL |
                   CREAD;
    if (tcsetattr(fd, TCSANOW, &line) != 0 || tcgetattr(fd, &taken) != 0 ||
        tcflush(fd, TCIOFLUSH) != 0) {
        return 4;
    }
    long long deadline = NowMs() + 1000;
    int lines = 0;
    ioctl(fd, TIOCMGET, &lines);  /* CTS is up on every port this program is timed on */
    size_t written = 0;
    int whole = 1;
    while (written < sizeof kFrame) {
        ssize_t n = write(fd, kFrame + written, sizeof kFrame - written);
        if (n > 0) {
            written += (size_t)n;
            continue;
        }
        long long left = deadline - NowMs();
        struct pollfd wanted = {fd, POLLOUT, 0};
        if (left <= 0 || poll(&wanted, 1, (int)left) <= 0) {
            whole = 0;
            break;
        }
    }
    int pending = 0;
    while (whole && ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0) {
        usleep(1000);
    }
    if (!whole) {
        tcflush(fd, TCOFLUSH);
    }
    flock(fd, LOCK_UN);
    ioctl(fd, TIOCNXCL);
    /* The close bounded by a timer signal to this thread, as brandcli's. */
    struct sigaction action = {0};
    action.sa_handler = Interrupt;
    sigaction(SIGRTMIN, &action, NULL);
    struct sigevent event = {0};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGRTMIN;
    event._sigev_un._tid = gettid();
    timer_t timer;
    timer_create(CLOCK_MONOTONIC, &event, &timer);
    struct itimerspec after = {{0, 0}, {0, 100 * 1000000L}};
    timer_settime(timer, 0, &after, NULL);
    close(fd);
    timer_delete(timer);
    return whole ? 0 : 5;
}
