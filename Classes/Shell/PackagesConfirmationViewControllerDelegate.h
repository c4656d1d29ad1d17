#pragma once
// Told by the queue confirmation screen that the queue marks may have changed
// (a package was taken out of the queue): the adopter redraws. Package lists
// adopt it and also call it themselves.
class PackagesConfirmationViewControllerDelegate {
public:
    virtual ~PackagesConfirmationViewControllerDelegate() = default;
    virtual void updateUI() = 0;
};
