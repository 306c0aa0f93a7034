#!/usr/bin/python3
"""Message boxes are reported with their text and answered: as a step asks, or, when no
step expects them, with the least harmful button, so a run never hangs on one."""
import unittest

from benchtest import bench


class DialogTest(unittest.TestCase):
    def test_expected_and_unexpected_boxes(self):
        r = bench().run('''
            answer button=No caption=Confirm text="Really?" screenshot=confirm
            show-box Confirm "Really? Sure?" buttons=yesno
            answer Yes caption=Other
            show-box Notice "Nobody expects this" buttons=okcancel
            show-box Confirm "Really? Again" buttons=yesno
            wait answered timeout=3000
        ''', deliverables=False, name="dialogs")
        lines = r.lines
        boxes = r.lines_starting("box ")
        self.assertEqual(len(boxes), 3, r.describe())
        self.assertIn('box caption="Confirm" text="Really? Sure?"', boxes[0])
        self.assertIn('Button:7:"&No"', boxes[0])
        self.assertIn("own=yes", boxes[0])
        results = r.lines_starting("show-box result=")
        # No (7); the unexpected one gets Cancel (2); the expectation for "Other" never
        # matches, so the third is unexpected too and gets No.
        self.assertEqual(results, ["show-box result=7", "show-box result=2", "show-box result=7"])
        self.assertEqual(r.lines_starting("box-unexpected"),
                         ['box-unexpected caption="Notice" text="Nobody expects this"',
                          'box-unexpected caption="Confirm" text="Really? Again"'])
        self.assertIn("wait-failed answered", "\n".join(lines))
        self.assertIn("boxes seen=3 unexpected=2 unanswered-expectations=1", lines)
        self.assertFalse(r.ok)  # the failed wait counts
        shots = r.screenshots()
        self.assertEqual([s.rsplit("/", 1)[1] for s in shots], ["confirm.bmp"])
        with open(shots[0], "rb") as f:
            self.assertEqual(f.read(2), b"BM")


if __name__ == "__main__":
    unittest.main()
