/* For the virtual machine's cases: holds a port as ModemManager does while it probes a new
 * device, with TIOCEXCL alone (no flock), and says afterwards whether that hold outlived the
 * programs that met it.
 *
 *   port_holder PORT     prints "held" once the port is held; on SIGUSR1 prints "excl N" (the
 *                        port's TIOCGEXCL) and ends
 */
#define _DEFAULT_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    // Blocked before "held": a SIGUSR1 sent as soon as that line is read waits for sigwait.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigprocmask(SIG_BLOCK, &usr1, NULL);
    int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || ioctl(fd, TIOCEXCL) != 0) {
        perror(argv[1]);
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    int sig = 0;
    sigwait(&usr1, &sig);
    int excl = -1;
    if (ioctl(fd, TIOCGEXCL, &excl) != 0) {
        perror("TIOCGEXCL");
        return 1;
    }
    printf("excl %d\n", excl);
    return 0;
}
