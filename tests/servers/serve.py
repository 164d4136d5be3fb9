"""What the test SMTP servers share: start an aiosmtpd controller, write the
ready file (holding the process id) into the server's folder, and run until
the fixture stops the process."""
import os
import time


def serve(controller, root):
    controller.start()
    with open(os.path.join(root, "ready"), "w") as f:
        f.write(str(os.getpid()))
    try:
        time.sleep(10**9)
    except KeyboardInterrupt:
        pass
    finally:
        controller.stop()
